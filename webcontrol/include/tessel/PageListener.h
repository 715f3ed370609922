// SPDX-License-Identifier: MIT
// For hosts of the web map control: the object whose address a host hands to AddLinster.
//
// The control reaches the object through the second entry of its virtual function table, the
// object's address first, as a member function call of this platform; the first entry is never
// called. So the class declares no virtual destructor: on this ABI one takes two table entries
// and would push OnPageMessage out of its place. Hosts delete their listeners through their own
// class.
#pragma once

#include <cstdint>

class CPageListener
{
public:
    // Holds the table's first place; the control never calls it.
    virtual void OnReserved() {}
    // A notification of the page: a page call of MainCall (name and its data), "LoadComplete"
    // (data 0) or "InaccessiblePage" (data: the failing frame's IDispatch, no reference for the
    // listener). name and the text data points to live only for the call.
    virtual std::int32_t OnPageMessage(const char *name, std::intptr_t data) = 0;

protected:
    CPageListener() = default;
    CPageListener(const CPageListener &) = default;
    CPageListener &operator=(const CPageListener &) = default;
    ~CPageListener() = default;
};

namespace tessel {

// What the control does with a listener address: call the second table entry. The object need
// not derive from CPageListener, only have its table laid out the same way.
inline std::int32_t callPageListener(std::uint64_t address, const char *name, std::intptr_t data)
{
    using Entry = std::int32_t (*)(void *self, const char *name, std::intptr_t data);
    void *self = reinterpret_cast<void *>(static_cast<std::uintptr_t>(address));
    Entry const *table = *static_cast<Entry const *const *>(self);
    return table[1](self, name, data);
}

// The address to hand to AddLinster for a listener.
inline std::uint64_t listenerAddress(CPageListener *listener)
{
    return static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(listener));
}

} // namespace tessel

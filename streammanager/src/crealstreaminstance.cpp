// SPDX-License-Identifier: MIT
#include "crealstreamoperation.h"

#include <varnex/realstream.h>

#include <cstdint>
#include <mutex>
#include <unordered_map>

namespace DCM {

namespace {

// Copies of a factory share its component. The factory's layout is fixed to the one pointer, so
// the number of factories holding each component is kept here; the last one destroys it.
class ComponentShares
{
public:
    static ComponentShares &instance()
    {
        // Never destroyed, so factories that live in static storage can still let go.
        static ComponentShares *shares = new ComponentShares;
        return *shares;
    }

    void adopt(IRealStreamComponent *component)
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_holders[key(component)] = 1;
    }

    void share(IRealStreamComponent *component)
    {
        std::lock_guard<std::mutex> guard(m_lock);
        ++m_holders[key(component)];
    }

    // True when the caller was the last holder and must destroy the component.
    bool release(IRealStreamComponent *component)
    {
        std::lock_guard<std::mutex> guard(m_lock);
        auto it = m_holders.find(key(component));
        if (it == m_holders.end() || --it->second == 0) {
            if (it != m_holders.end())
                m_holders.erase(it);
            return true;
        }
        return false;
    }

private:
    static std::uintptr_t key(IRealStreamComponent *component)
    {
        return reinterpret_cast<std::uintptr_t>(component);
    }

    std::mutex m_lock;
    // Keyed by address so that no standard template is instantiated on an exported type.
    std::unordered_map<std::uintptr_t, unsigned> m_holders;
};

} // namespace

IRealStreamComponent::IRealStreamComponent() = default;
IRealStreamComponent::IRealStreamComponent(const IRealStreamComponent &) = default;
IRealStreamComponent &IRealStreamComponent::operator=(const IRealStreamComponent &) = default;
IRealStreamComponent::~IRealStreamComponent() = default;

CRealStreamInstance::CRealStreamInstance() = default;

CRealStreamInstance::CRealStreamInstance(const CRealStreamInstance &other)
    : m_component(other.m_component)
{
    if (m_component)
        ComponentShares::instance().share(m_component);
}

CRealStreamInstance &CRealStreamInstance::operator=(const CRealStreamInstance &other)
{
    if (m_component == other.m_component)
        return *this;
    if (other.m_component)
        ComponentShares::instance().share(other.m_component);
    IRealStreamComponent *old = m_component;
    m_component = other.m_component;
    if (old && ComponentShares::instance().release(old))
        delete old;
    return *this;
}

CRealStreamInstance::~CRealStreamInstance()
{
    if (m_component && ComponentShares::instance().release(m_component))
        delete m_component;
    m_component = nullptr;
}

IRealStreamComponent *CRealStreamInstance::CreateRealStreamInstance()
{
    if (!m_component) {
        m_component = new CRealStreamOperation;
        ComponentShares::instance().adopt(m_component);
    }
    return m_component;
}

} // namespace DCM

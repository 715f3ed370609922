# SPDX-License-Identifier: MIT
# Checks the dynamic symbols of the stream library: every listed entry is there, and apart from
# what the toolchain adds (names without C++ mangling) nothing else is.
execute_process(COMMAND ${NM} -D --defined-only -C ${LIBRARY}
    OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY} OUTPUT_VARIABLE raw)

set(required
    "DCM::CRealStreamInstance::CRealStreamInstance()"
    "DCM::CRealStreamInstance::CRealStreamInstance(DCM::CRealStreamInstance const&)"
    "DCM::CRealStreamInstance::operator=(DCM::CRealStreamInstance const&)"
    "DCM::CRealStreamInstance::~CRealStreamInstance()"
    "DCM::CRealStreamInstance::CreateRealStreamInstance()"
    "DCM::IRealStreamComponent::IRealStreamComponent()"
    "DCM::IRealStreamComponent::IRealStreamComponent(DCM::IRealStreamComponent const&)"
    "DCM::IRealStreamComponent::operator=(DCM::IRealStreamComponent const&)"
    "DCM::IRealStreamComponent::~IRealStreamComponent()"
    "vtable for DCM::CRealStreamInstance"
    "vtable for DCM::IRealStreamComponent"
)
set(allowed ${required}
    "typeinfo for DCM::CRealStreamInstance"
    "typeinfo for DCM::IRealStreamComponent"
    "typeinfo name for DCM::CRealStreamInstance"
    "typeinfo name for DCM::IRealStreamComponent"
)

string(REPLACE "\n" ";" lines "${out}")
set(found "")
foreach(line IN LISTS lines)
    if(NOT line MATCHES "^[0-9a-fA-F]* *[A-Za-z] (.+)$")
        continue()
    endif()
    set(name "${CMAKE_MATCH_1}")
    list(APPEND found "${name}")
endforeach()

# Mangled names are ours; unmangled ones (_init, _end, __bss_start, ...) come from the toolchain.
string(REPLACE "\n" ";" rawlines "${raw}")
set(ours 0)
foreach(line IN LISTS rawlines)
    if(line MATCHES " (_Z[^ ]+)$")
        math(EXPR ours "${ours} + 1")
    endif()
endforeach()

set(errors "")
foreach(name IN LISTS required)
    list(FIND found "${name}" at)
    if(at EQUAL -1)
        string(APPEND errors "missing: ${name}\n")
    endif()
endforeach()
set(counted 0)
foreach(name IN LISTS found)
    list(FIND allowed "${name}" at)
    if(NOT at EQUAL -1)
        math(EXPR counted "${counted} + 1")
    elseif(name MATCHES "::|for |\\(")
        string(APPEND errors "not ours to export: ${name}\n")
    endif()
endforeach()
if(NOT ours EQUAL counted)
    string(APPEND errors "mangled symbols: ${ours}, of them listed: ${counted}\n")
endif()
if(errors)
    message(FATAL_ERROR "${LIBRARY}:\n${errors}")
endif()
message(STATUS "exports of ${LIBRARY} are as listed")

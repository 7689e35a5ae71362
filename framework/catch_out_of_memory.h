// Running out of memory as a result instead of an exception, for the places no exception
// may leave: COM methods and thread procedures.
#pragma once

#include <new>
#include <stdexcept>

#include "framework/platform/platform.h"

// Returns body() (a callable returning HRESULT), or E_OUTOFMEMORY when it throws
// std::bad_alloc or std::length_error (a container asked beyond its maximum size). Any
// other exception passes through. Whatever body changed before the throw stays changed:
// the caller undoes it where that matters.
template <class Body> HRESULT CatchOutOfMemory(Body&& body) {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (const std::length_error&) {
        return E_OUTOFMEMORY;
    }
}

// Engine construction for Prepare (internal header).
#pragma once

#include <new>
#include <utility>

// Builds a T, or returns null when memory runs out anywhere in its
// construction: a cipher whose engine is missing reports failure from
// Process instead of throwing through the worker.
template <class T, class... Args>
T* TryNew(Args&&... args)
{
    try {
        return new T(std::forward<Args>(args)...);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

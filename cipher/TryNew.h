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

// Deletes engines in the order given and leaves each pointer empty, so that
// Prepare may run again and the destructor after a failed Prepare is safe.
template <class... T>
void DeleteEngines(T*&... pEngines)
{
    ((delete pEngines, pEngines = nullptr), ...);
}

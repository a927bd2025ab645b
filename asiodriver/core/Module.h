// Module-wide state of the driver DLL: instance handle, private heap, the counts that
// decide whether the DLL may unload, and the process's one attachment of the status block.
#pragma once

#include <windows.h>

#include <cstddef>

#include "StatusBlock.h"

namespace tess {

void moduleAttach(HINSTANCE instance);
void moduleDetach(bool processTerminating);
HINSTANCE moduleInstance();

// Zero-filled allocation from the module heap; null when the heap is missing or full.
void* moduleAlloc(size_t size);
void moduleFree(void* p);
// Allocations from the module heap not yet freed (for leak checks).
long moduleLiveAllocations();

void moduleObjectCreated();
void moduleObjectDestroyed();
void moduleLock(bool lock);
bool moduleCanUnload();

// The status block, attached by the first driver object of the process and kept until
// the module unloads (so every later object shares one mapping instead of leaking one
// each). `created` tells whether this call created the block; the creator's settings
// load lands in *pcmRate. An empty view when the block cannot be had.
struct ModuleBlock {
  HANDLE mapping;
  StatusBlockView view;
  bool created;
};
ModuleBlock moduleStatusBlock(uint32_t* pcmRate);

}  // namespace tess

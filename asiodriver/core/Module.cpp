#include "Module.h"

#include <new>

#include "Settings.h"

namespace tess {
namespace {

HINSTANCE g_instance = nullptr;
HANDLE g_heap = nullptr;
volatile LONG g_objects = 0;
volatile LONG g_locks = 0;
volatile LONG g_allocations = 0;

SRWLOCK g_blockLock = SRWLOCK_INIT;
CStatusBlockMapping* g_block = nullptr;  // constructed in place below, destroyed at unload
alignas(CStatusBlockMapping) unsigned char g_blockStorage[sizeof(CStatusBlockMapping)];

}  // namespace

void moduleAttach(HINSTANCE instance) {
  g_instance = instance;
  g_heap = HeapCreate(0, 0x10000, 0);  // may fail: allocations then fail cleanly
}

void moduleDetach(bool processTerminating) {
  // On process exit the system takes the mapping and the heap down itself.
  if (processTerminating) return;
  if (g_block) {
    g_block->~CStatusBlockMapping();
    g_block = nullptr;
  }
  if (g_heap) HeapDestroy(g_heap);
  g_heap = nullptr;
}

HINSTANCE moduleInstance() { return g_instance; }

void* moduleAlloc(size_t size) {
  void* p = g_heap ? HeapAlloc(g_heap, HEAP_ZERO_MEMORY, size ? size : 1) : nullptr;
  if (p) InterlockedIncrement(&g_allocations);
  return p;
}

void moduleFree(void* p) {
  if (p && g_heap && HeapFree(g_heap, 0, p)) InterlockedDecrement(&g_allocations);
}

long moduleLiveAllocations() { return g_allocations; }

void moduleObjectCreated() { InterlockedIncrement(&g_objects); }
void moduleObjectDestroyed() { InterlockedDecrement(&g_objects); }
void moduleLock(bool lock) { lock ? InterlockedIncrement(&g_locks) : InterlockedDecrement(&g_locks); }
bool moduleCanUnload() { return g_locks <= 0 && g_objects == 0; }

ModuleBlock moduleStatusBlock(uint32_t* pcmRate) {
  AcquireSRWLockExclusive(&g_blockLock);
  bool created = false;
  if (!g_block) g_block = new (g_blockStorage) CStatusBlockMapping();
  if (!g_block->memory()) created = g_block->attach(BlockSide::Driver, pcmRate) && g_block->created();
  ModuleBlock result{g_block->handle(), g_block->view(), created};
  ReleaseSRWLockExclusive(&g_blockLock);
  return result;
}

}  // namespace tess

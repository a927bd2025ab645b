// The library's collections: ordered, doubly linked lists of item pointers with a first
// entry, a last entry and a count. Items are appended at the end, walked from the first
// and removed from the front. Entries are allocated without throwing: a failed append
// reports false and leaves the list as it was. A list never owns its items unless it is
// told to delete them (DeleteAll).
#pragma once

#include <cstdint>
#include <new>

template <typename T>
struct CKsListEntry {
  CKsListEntry* pNext;
  CKsListEntry* pPrev;
  T* pItem;
};

template <typename T>
class CKsList {
 public:
  using Entry = CKsListEntry<T>;

  CKsList() = default;
  CKsList(const CKsList&) = delete;
  CKsList& operator=(const CKsList&) = delete;
  ~CKsList() { RemoveAll(); }

  bool AddTail(T* item) {
    Entry* entry = new (std::nothrow) Entry{nullptr, m_pLast, item};
    if (!entry) return false;
    if (m_pLast) m_pLast->pNext = entry;
    else m_pFirst = entry;
    m_pLast = entry;
    ++m_count;
    return true;
  }

  // Unlinks the first entry and returns its item (null when the list is empty).
  T* RemoveHead() {
    Entry* entry = m_pFirst;
    if (!entry) return nullptr;
    m_pFirst = entry->pNext;
    if (m_pFirst) m_pFirst->pPrev = nullptr;
    else m_pLast = nullptr;
    --m_count;
    T* item = entry->pItem;
    delete entry;
    return item;
  }

  // Empties the list; the items are left alone (another list owns them).
  void RemoveAll() {
    while (m_pFirst) RemoveHead();
  }

  // Empties the list and deletes every item (the list owns them).
  void DeleteAll() {
    while (m_pFirst) delete RemoveHead();
  }

  uint32_t GetCount() const { return m_count; }
  bool IsEmpty() const { return m_count == 0; }
  Entry* GetHead() const { return m_pFirst; }
  Entry* GetTail() const { return m_pLast; }

  class iterator {
   public:
    explicit iterator(Entry* entry) : m_pEntry(entry) {}
    T* operator*() const { return m_pEntry->pItem; }
    iterator& operator++() {
      m_pEntry = m_pEntry->pNext;
      return *this;
    }
    bool operator!=(const iterator& other) const { return m_pEntry != other.m_pEntry; }

   private:
    Entry* m_pEntry;
  };
  iterator begin() const { return iterator(m_pFirst); }
  iterator end() const { return iterator(nullptr); }

 private:
  Entry* m_pFirst = nullptr;
  Entry* m_pLast = nullptr;
  uint32_t m_count = 0;
};

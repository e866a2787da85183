// The library's owner lists: doubly linked, appended at the end, walked from
// the first entry. A list owns its entries; whether it owns the objects is
// its holder's decision (DeleteAll or RemoveAll).
#pragma once

#include <windows.h>

#include <new>

template <class T>
struct CKsListEntry {
    CKsListEntry* pNext;
    CKsListEntry* pPrev;
    T* pData;
};

template <class T>
class CKsList {
public:
    CKsList() = default;
    ~CKsList() { RemoveAll(); }
    CKsList(const CKsList&) = delete;
    CKsList& operator=(const CKsList&) = delete;

    // The new entry, or null when it cannot be allocated (nothing changes).
    CKsListEntry<T>* AddTail(T* pData)
    {
        auto* pEntry = new (std::nothrow) CKsListEntry<T>{nullptr, m_pLast, pData};
        if (!pEntry) return nullptr;
        if (m_pLast) {
            m_pLast->pNext = pEntry;
        } else {
            m_pFirst = pEntry;
        }
        m_pLast = pEntry;
        ++m_cEntries;
        return pEntry;
    }

    CKsListEntry<T>* First() const { return m_pFirst; }
    ULONG Count() const { return m_cEntries; }
    bool IsEmpty() const { return m_cEntries == 0; }

    // Frees the entries, leaving the objects to their owner.
    void RemoveAll()
    {
        while (m_pFirst) {
            CKsListEntry<T>* pNext = m_pFirst->pNext;
            delete m_pFirst;
            m_pFirst = pNext;
        }
        m_pLast = nullptr;
        m_cEntries = 0;
    }
    // Frees the entries and deletes the objects.
    void DeleteAll()
    {
        for (CKsListEntry<T>* p = m_pFirst; p; p = p->pNext) delete p->pData;
        RemoveAll();
    }

private:
    CKsListEntry<T>* m_pFirst = nullptr;
    CKsListEntry<T>* m_pLast = nullptr;
    ULONG m_cEntries = 0;
};

// An intrusive two-way list with head and tail sentinels. Entries derive from
// COrvexListNode; linking and unlinking never allocate.
#ifndef ORVEX_MEMORY_ORVEXLIST_H
#define ORVEX_MEMORY_ORVEXLIST_H

namespace Orvex {

// Two links, both null while the node is in no list.
struct COrvexListNode {
    COrvexListNode* previous = nullptr;
    COrvexListNode* next = nullptr;

    bool IsLinked() const { return previous != nullptr; }

    // Takes the node out of whatever list holds it.
    void Unlink() {
        if (previous != nullptr) {
            previous->next = next;
            next->previous = previous;
            previous = nullptr;
            next = nullptr;
        }
    }
};

template <typename T> class TOrvexList {
public:
    typedef Orvex::COrvexListNode COrvexListNode;

    TOrvexList() { Reset(); }
    // A copy takes over no nodes; assignment leaves the target as it is.
    TOrvexList(const TOrvexList&) { Reset(); }
    TOrvexList& operator=(const TOrvexList&) { return *this; }
    // Detaches the sentinels only: nodes still listed are not touched.
    ~TOrvexList() = default;

    bool IsEmpty() const { return m_head.next == &m_tail; }

    // Neither push checks whether the node is already linked.
    void PushFront(COrvexListNode& node) { LinkBetween(node, &m_head, m_head.next); }
    void PushBack(COrvexListNode& node) { LinkBetween(node, m_tail.previous, &m_tail); }

    T* GetFirst() const { return IsEmpty() ? nullptr : static_cast<T*>(m_head.next); }
    T* GetLast() const { return IsEmpty() ? nullptr : static_cast<T*>(m_tail.previous); }

private:
    void Reset() {
        m_head.previous = nullptr;
        m_head.next = &m_tail;
        m_tail.previous = &m_head;
        m_tail.next = nullptr;
    }

    static void LinkBetween(COrvexListNode& node, COrvexListNode* before, COrvexListNode* after) {
        node.previous = before;
        node.next = after;
        before->next = &node;
        after->previous = &node;
    }

    COrvexListNode m_head;
    COrvexListNode m_tail;
};

} // namespace Orvex

#endif // ORVEX_MEMORY_ORVEXLIST_H

// Doubly linked lists threaded through the nodes' own `previous` and `next`
// members, headed by a pointer to the first node. The caller holds whatever
// lock guards the list.
#ifndef ORVEX_MEMORY_DETAIL_INTRUSIVELIST_H
#define ORVEX_MEMORY_DETAIL_INTRUSIVELIST_H

namespace Orvex {
namespace detail {

template <typename Node> void LinkFirst(Node*& head, Node* node) {
    node->previous = nullptr;
    node->next = head;
    if (head != nullptr) {
        head->previous = node;
    }
    head = node;
}

template <typename Node> void Unlink(Node*& head, Node* node) {
    (node->previous != nullptr ? node->previous->next : head) = node->next;
    if (node->next != nullptr) {
        node->next->previous = node->previous;
    }
}

} // namespace detail
} // namespace Orvex

#endif // ORVEX_MEMORY_DETAIL_INTRUSIVELIST_H

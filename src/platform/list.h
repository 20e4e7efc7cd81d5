// Circular doubly linked lists with a statically initialised head. A node
// type starts with its links (`list_entry link;` as first member); nodes are
// appended at the tail, so a list keeps insertion order.
#pragma once
#include <stdint.h>

struct list_entry {
  list_entry* next;
  list_entry* prev;
};

#define LIST_HEAD_INIT(name) {&(name), &(name)}

inline bool list_empty(const list_entry& head) { return head.next == &head; }

inline void list_append(list_entry& head, list_entry* node) {
  node->prev = head.prev;
  node->next = &head;
  head.prev->next = node;
  head.prev = node;
}

inline void list_unlink(list_entry* node) {
  node->prev->next = node->next;
  node->next->prev = node->prev;
  node->next = node->prev = node;
}

inline uint64_t list_count(const list_entry& head) {
  uint64_t n = 0;
  for (const list_entry* e = head.next; e != &head; e = e->next) n++;
  return n;
}

// for (remap_node_t* n : each<remap_node_t>(drhd_list)) ...
template <class Node>
struct list_range {
  list_entry* head;
  struct iterator {
    list_entry* at;
    Node* operator*() const { return reinterpret_cast<Node*>(at); }
    iterator& operator++() {
      at = at->next;
      return *this;
    }
    bool operator!=(const iterator& o) const { return at != o.at; }
  };
  iterator begin() const { return {head->next}; }
  iterator end() const { return {head}; }
};

template <class Node>
list_range<Node> each(list_entry& head) {
  return {&head};
}

template <class Node>
Node* list_last(list_entry& head) {
  return list_empty(head) ? nullptr : reinterpret_cast<Node*>(head.prev);
}

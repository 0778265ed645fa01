// Hands values from any thread to the one thread that owns the mailbox, in order and without a lock: senders
// push with a compare-and-swap, the owner takes everything at once. What a sender wrote before put() is seen
// by the owner after takeAll(), and ThreadSanitizer sees that too (Qt's own hand-offs it cannot see).
#pragma once

#include <atomic>
#include <utility>
#include <vector>

template <typename T>
class Mailbox
{
public:
    Mailbox() = default;
    Mailbox(const Mailbox&) = delete;
    Mailbox& operator=(const Mailbox&) = delete;
    ~Mailbox() { takeAll(); }

    // From any thread.
    void put(T value)
    {
        auto* node = new Node {std::move(value), newest.load(std::memory_order_relaxed)};
        while (!newest.compare_exchange_weak(node->older, node, std::memory_order_release, std::memory_order_relaxed)) {
        }
    }

    // In the owner's thread: everything put so far, oldest first.
    std::vector<T> takeAll()
    {
        std::vector<T> values;
        for (Node* node = newest.exchange(nullptr, std::memory_order_acquire); node;) {
            values.push_back(std::move(node->value));
            Node* const older = node->older;
            delete node;
            node = older;
        }
        return std::vector<T>(std::make_move_iterator(values.rbegin()), std::make_move_iterator(values.rend()));
    }

private:
    struct Node
    {
        T value;
        Node* older;
    };

    std::atomic<Node*> newest {nullptr};
};

#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <thread>

#include "transfer/transfer.h"

// The planned transfers. The worker runs from `queue`, whose first element is the current
// transfer; new transfers wait in `frontAdds` and `backAdds` until the worker merges them.
// No lock: the user interface touches the lists only while the worker is stopped, the worker
// only while it runs.
class TaskList {
  public:
    using List = std::deque<TransferPtr>;

    TaskList();

    // Before the others already waiting there: the newest runs first.
    void AddFront(TransferPtr t);
    // After the others: the oldest runs first.
    void AddBack(TransferPtr t);

    // frontAdds goes before the first element of queue in its own order, backAdds after the
    // last; both end up empty.
    void Merge();

    void Clear();
    // All three lists are empty.
    bool Empty() const;

    // The first element of queue, or null when queue is empty.
    TransferPtr Front() const;
    void PopFront();
    void PushBack(TransferPtr t);

    // Removes from all three lists the transfers for which remove() is true; the others keep
    // their order. Returns how many went.
    size_t RemoveIf(const std::function<bool(const TransferPtr&)>& remove);

    const List& Queue() const { return queue_; }
    const List& FrontAdds() const { return frontAdds_; }
    const List& BackAdds() const { return backAdds_; }
    std::thread::id CreatorThreadId() const { return creatorThreadId_; }

  private:
    List queue_;
    List frontAdds_;
    List backAdds_;
    std::thread::id creatorThreadId_;
};

#include "transfer/task_list.h"

#include <algorithm>

#include "frame/my_exception.h"

TaskList::TaskList() : creatorThreadId_(std::this_thread::get_id()) {}

void TaskList::AddFront(TransferPtr t) {
    MY_CHECK(t);
    frontAdds_.push_front(std::move(t));
}

void TaskList::AddBack(TransferPtr t) {
    MY_CHECK(t);
    backAdds_.push_back(std::move(t));
}

void TaskList::Merge() {
    queue_.insert(queue_.begin(), frontAdds_.begin(), frontAdds_.end());
    frontAdds_.clear();
    while (!backAdds_.empty()) {
        queue_.push_back(std::move(backAdds_.front()));
        backAdds_.pop_front();
    }
}

void TaskList::Clear() {
    queue_.clear();
    frontAdds_.clear();
    backAdds_.clear();
}

bool TaskList::Empty() const {
    return queue_.empty() && frontAdds_.empty() && backAdds_.empty();
}

TransferPtr TaskList::Front() const {
    return queue_.empty() ? nullptr : queue_.front();
}

void TaskList::PopFront() {
    if (!queue_.empty()) queue_.pop_front();
}

void TaskList::PushBack(TransferPtr t) {
    MY_CHECK(t);
    queue_.push_back(std::move(t));
}

size_t TaskList::RemoveIf(const std::function<bool(const TransferPtr&)>& remove) {
    size_t n = 0;
    for (List* l : {&queue_, &frontAdds_, &backAdds_}) {
        auto end = std::remove_if(l->begin(), l->end(), remove);
        n += static_cast<size_t>(l->end() - end);
        l->erase(end, l->end());
    }
    return n;
}

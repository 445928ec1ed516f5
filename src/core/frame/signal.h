#pragma once

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace my::VCLSignal {

template <class F>
class Signal;

// A list of subscriber callbacks. Connect() returns a token; when the last holder of the token
// lets it go, every entry equal to the subscribed callback leaves the list. Connect, release
// and Emit belong to the UI thread (the worker emits through CallInUiThread); the list is
// still guarded, so a token released elsewhere cannot corrupt it.
template <class... A>
class Signal<void(A...)> {
public:
    using Fn = std::function<void(A...)>;

private:
    // Entries are equal when they bind the same member function to the same object; a plain
    // function object is equal only to itself.
    struct Key {
        const void* object = nullptr;
        unsigned char member[2 * sizeof(void*)] = {};
        unsigned long long id = 0;
        bool operator==(const Key& o) const {
            return object == o.object && id == o.id &&
                   std::memcmp(member, o.member, sizeof member) == 0;
        }
    };
    struct Entry {
        Key key;
        Fn fn;
    };
    struct List {
        std::mutex mutex;
        std::vector<Entry> entries;
    };

public:
    struct Connections {
        class Auto {
        public:
            Auto(std::weak_ptr<List> list, Key key) : list_(std::move(list)), key_(key) {}
            ~Auto() {
                if (auto l = list_.lock()) {
                    std::lock_guard<std::mutex> lock(l->mutex);
                    auto& e = l->entries;
                    e.erase(std::remove_if(e.begin(), e.end(),
                                           [&](const Entry& x) { return x.key == key_; }),
                            e.end());
                }
            }
            Auto(const Auto&) = delete;
            Auto& operator=(const Auto&) = delete;

        private:
            std::weak_ptr<List> list_;
            Key key_;
        };
    };
    using AutoPtr = std::shared_ptr<typename Connections::Auto>;

    Signal() : list_(std::make_shared<List>()) {}
    Signal(const Signal&) = delete;
    Signal& operator=(const Signal&) = delete;

    AutoPtr Connect(Fn fn) {
        static std::atomic<unsigned long long> nextId{1};
        Key key;
        key.id = nextId.fetch_add(1);
        return Add(key, std::move(fn));
    }

    // A member function bound to an object: the callback type of the program's handlers.
    template <class C>
    AutoPtr Connect(C* object, void (C::*member)(A...)) {
        Key key;
        key.object = object;
        static_assert(sizeof member <= sizeof key.member);
        std::memcpy(key.member, &member, sizeof member);
        return Add(key, [object, member](A... args) { (object->*member)(args...); });
    }

    // Calls every subscriber of a copy of the list, in connection order: a handler that
    // connects or disconnects affects the next emission only.
    void Emit(A... args) const {
        std::vector<Entry> copy;
        {
            std::lock_guard<std::mutex> lock(list_->mutex);
            copy = list_->entries;
        }
        for (const Entry& e : copy) e.fn(args...);
    }

    size_t Count() const {
        std::lock_guard<std::mutex> lock(list_->mutex);
        return list_->entries.size();
    }

    void Clear() {
        std::lock_guard<std::mutex> lock(list_->mutex);
        list_->entries.clear();
    }

private:
    AutoPtr Add(const Key& key, Fn fn) {
        {
            std::lock_guard<std::mutex> lock(list_->mutex);
            list_->entries.push_back(Entry{key, std::move(fn)});
        }
        return std::make_shared<typename Connections::Auto>(list_, key);
    }

    std::shared_ptr<List> list_;
};

}  // namespace my::VCLSignal

// The undo log of the in-memory farm store: every change a transaction makes
// to a container or a value is recorded before (or as) it is made, and
// Rollback() undoes the changes in reverse order.
//
// Recording may raise std::bad_alloc; it does so before the change is made,
// so the container and the log stay consistent. Rollback() never allocates
// and never raises: removed rows are kept as node handles, replaced values
// are swapped back, inserted keys are erased.
#ifndef FEROQ_SERVICES_STORE_UNDO_LOG_H_
#define FEROQ_SERVICES_STORE_UNDO_LOG_H_

#include <memory>
#include <utility>
#include <vector>

namespace feroq::store {

class UndoLog {
 public:
  UndoLog() = default;
  UndoLog(const UndoLog&) = delete;
  UndoLog& operator=(const UndoLog&) = delete;
  ~UndoLog() { Commit(); }

  // Map `c` gets `key` -> `value` (inserted, or replacing the present value).
  template <class Map>
  void MapPut(Map& c, const typename Map::key_type& key, const typename Map::mapped_type& value) {
    typename Map::mapped_type copy(value);
    auto it = c.find(key);
    if (it != c.end()) {
      ReserveOne();
      // The entry's constructor swaps the new value in once it cannot fail.
      entries_.push_back(std::make_unique<SwappedValue<Map>>(&c, it, std::move(copy)));
      return;
    }
    auto entry = std::make_unique<InsertedKey<Map>>(&c, key);
    ReserveOne();
    c.emplace(key, std::move(copy));
    entries_.push_back(std::move(entry));
  }

  // Set `c` gets `key` (nothing happens when it is present).
  template <class Set>
  void SetInsert(Set& c, const typename Set::key_type& key) {
    if (c.find(key) != c.end()) return;
    auto entry = std::make_unique<InsertedKey<Set>>(&c, key);
    ReserveOne();
    c.insert(key);
    entries_.push_back(std::move(entry));
  }

  // Removes `key` from map or set `c` (nothing happens when it is absent).
  template <class Container>
  void Erase(Container& c, const typename Container::key_type& key) {
    if (c.find(key) == c.end()) return;
    auto entry = std::make_unique<RemovedNode<Container>>(&c);
    ReserveOne();
    entry->node = c.extract(key);
    entries_.push_back(std::move(entry));
  }

  // `target` becomes `value`. T's swap must not raise.
  template <class T>
  void Assign(T& target, T value) {
    auto entry = std::make_unique<SwappedScalar<T>>(&target, std::move(value));
    ReserveOne();
    using std::swap;
    swap(target, entry->saved);
    entries_.push_back(std::move(entry));
  }

  // Undoes every recorded change, newest first, and empties the log.
  void Rollback() noexcept {
    for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) (*it)->Undo();
    entries_.clear();
  }
  // Forgets the recorded changes (they stay made).
  void Commit() noexcept { entries_.clear(); }

 private:
  struct Entry {
    virtual ~Entry() = default;
    virtual void Undo() noexcept = 0;
  };

  template <class C>
  struct InsertedKey final : Entry {
    InsertedKey(C* c, const typename C::key_type& k) : container(c), key(k) {}
    void Undo() noexcept override { container->erase(key); }
    C* container;
    typename C::key_type key;
  };

  template <class C>
  struct RemovedNode final : Entry {
    explicit RemovedNode(C* c) : container(c) {}
    void Undo() noexcept override {
      if (!node.empty()) container->insert(std::move(node));
    }
    C* container;
    typename C::node_type node;
  };

  template <class Map>
  struct SwappedValue final : Entry {
    // Swaps `value` into the row at `it`; the row's old value is kept here.
    SwappedValue(Map* c, typename Map::iterator it, typename Map::mapped_type value)
        : container(c), key(it->first), saved(std::move(value)) {
      using std::swap;
      swap(it->second, saved);
    }
    void Undo() noexcept override {
      auto it = container->find(key);
      using std::swap;
      if (it != container->end()) swap(it->second, saved);
    }
    Map* container;
    typename Map::key_type key;
    typename Map::mapped_type saved;
  };

  template <class T>
  struct SwappedScalar final : Entry {
    SwappedScalar(T* t, T value) : target(t), saved(std::move(value)) {}
    void Undo() noexcept override {
      using std::swap;
      swap(*target, saved);
    }
    T* target;
    T saved;
  };

  // Makes room for one more entry (growing geometrically), so that the
  // push_back after a change cannot fail.
  void ReserveOne() {
    if (entries_.size() == entries_.capacity()) entries_.reserve(entries_.empty() ? 16 : 2 * entries_.size());
  }

  std::vector<std::unique_ptr<Entry>> entries_;
};

}  // namespace feroq::store

#endif  // FEROQ_SERVICES_STORE_UNDO_LOG_H_

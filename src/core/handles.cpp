#include "core/handles.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

namespace oskel::handles {

namespace {
// Lookups outnumber additions by far, and a handle stays valid until the typed
// API releases it (the raw natives never do). Readers probe an open-addressing
// table through one atomic load, without a lock; a released handle leaves a
// tombstone that probes pass over and later additions reuse. An addition that would fill the table past half
// publishes a table of twice the size; earlier tables are kept (a reader may
// still be probing one), which costs at most as much again as the newest.
struct Table {
    explicit Table(size_t size) : slots(size) {
        for (auto &slot : slots)
            slot.store(0, std::memory_order_relaxed);
    }
    std::vector<std::atomic<int64_t>> slots; // 0 marks an empty slot
    size_t used = 0;                         // slots not empty, tombstones included
};

// A released handle; no address is -1.
constexpr int64_t kTombstone = -1;

size_t hashOf(int64_t handle, size_t size) {
    auto h = static_cast<uint64_t>(handle);
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdULL;
    h ^= h >> 33;
    return static_cast<size_t>(h) & (size - 1);
}

void insert(Table &table, int64_t handle) {
    size_t i = hashOf(handle, table.slots.size());
    int64_t slot;
    while ((slot = table.slots[i].load(std::memory_order_relaxed)) != 0 && slot != kTombstone)
        i = (i + 1) & (table.slots.size() - 1);
    table.slots[i].store(handle, std::memory_order_release);
    if (slot == 0)
        ++table.used;
}

std::atomic<Table *> &current() {
    static std::atomic<Table *> table{nullptr};
    return table;
}

std::mutex &writerLock() {
    static std::mutex m;
    return m;
}

std::vector<std::unique_ptr<Table>> &tables() {
    static std::vector<std::unique_ptr<Table>> all;
    return all;
}
} // namespace

int64_t add(SccInterface *object) {
    // A 32-bit address is sign-extended like every 32-bit result.
    auto handle = static_cast<int64_t>(reinterpret_cast<intptr_t>(object));
    std::lock_guard<std::mutex> hold(writerLock());
    Table *table = current().load(std::memory_order_acquire);
    if (table == nullptr || (table->used + 1) * 2 > table->slots.size()) {
        auto bigger = std::make_unique<Table>(table ? table->slots.size() * 2 : 64);
        if (table) {
            for (const auto &slot : table->slots) {
                int64_t h = slot.load(std::memory_order_relaxed);
                if (h != 0 && h != kTombstone)
                    insert(*bigger, h);
            }
        }
        table = bigger.get();
        tables().push_back(std::move(bigger));
        insert(*table, handle);
        current().store(table, std::memory_order_release);
    } else {
        insert(*table, handle);
    }
    return handle;
}

int64_t adopt(std::unique_ptr<SccInterface> &object) {
    const int64_t handle = add(object.get());
    (void)object.release(); // the handle table holds it from here on
    return handle;
}

bool remove(int64_t handle) {
    if (sizeof(void *) == 4)
        handle = static_cast<int32_t>(static_cast<uint32_t>(handle));
    if (handle == 0 || handle == kTombstone)
        return false;
    std::lock_guard<std::mutex> hold(writerLock());
    Table *table = current().load(std::memory_order_acquire);
    if (table == nullptr)
        return false;
    const size_t mask = table->slots.size() - 1;
    for (size_t i = hashOf(handle, table->slots.size());; i = (i + 1) & mask) {
        int64_t slot = table->slots[i].load(std::memory_order_relaxed);
        if (slot == handle) {
            // A slot followed by an empty one ends every probe sequence that
            // reaches it, so it can be emptied outright, and so can the
            // tombstones just before it; elsewhere a tombstone keeps the
            // sequences that pass over it whole.
            if (table->slots[(i + 1) & mask].load(std::memory_order_relaxed) != 0) {
                table->slots[i].store(kTombstone, std::memory_order_release);
                return true;
            }
            for (;;) {
                table->slots[i].store(0, std::memory_order_release);
                --table->used;
                i = (i - 1) & mask;
                if (table->slots[i].load(std::memory_order_relaxed) != kTombstone)
                    return true;
            }
        }
        if (slot == 0)
            return false;
    }
}

SccInterface *find(int64_t handle) {
    if (sizeof(void *) == 4) // a 32-bit address travels in the low 32 bits
        handle = static_cast<int32_t>(static_cast<uint32_t>(handle));
    if (handle == 0 || handle == kTombstone)
        return nullptr;
    const Table *table = current().load(std::memory_order_acquire);
    if (table == nullptr)
        return nullptr;
    const size_t mask = table->slots.size() - 1;
    for (size_t i = hashOf(handle, table->slots.size());; i = (i + 1) & mask) {
        int64_t slot = table->slots[i].load(std::memory_order_acquire);
        if (slot == handle)
            return reinterpret_cast<SccInterface *>(static_cast<intptr_t>(handle));
        if (slot == 0)
            return nullptr;
    }
}

} // namespace oskel::handles

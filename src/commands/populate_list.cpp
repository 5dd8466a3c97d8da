// Populate lists: the provider sorts a file list into a keep list and a drop
// list through the populate callback.
#include <cstring>
#include <string>

#include "core/SccInterface.h"
#include "core/provider_calls.h"

namespace oskel {

namespace {
constexpr int32_t kInitialCapacity = 100;

SCCBOOL SCC_CALL populateCallback(void *callerData, SCCBOOL keep, SCCLONG /*status*/,
                                             const char *fileName) {
    if (callerData != nullptr && fileName != nullptr) {
        try {
            static_cast<SccInterface *>(callerData)->addPopulateEntry(keep, fileName);
        } catch (...) {
            // Out of memory: the name is dropped; the provider goes on.
        }
    }
    return 1;
}

void growPopulateList(int32_t &capacity, NameList &items) {
    capacity = grownCapacity(capacity);
    items.reserve(static_cast<size_t>(capacity));
}
} // namespace

int32_t grownCapacity(int32_t capacity) {
    return capacity <= 1000 ? capacity * 2 : capacity + 1000;
}

void SccInterface::createPopulateList(bool initial) {
    if (initial)
        lists.keepCapacity = lists.dropCapacity = kInitialCapacity;
    lists.keepItems.reserve(static_cast<size_t>(lists.keepCapacity));
    lists.dropItems.reserve(static_cast<size_t>(lists.dropCapacity));
}

void SccInterface::freePopulateList() {
    trace("-->Free populate list", 4);
    lists.keepItems.clear();
    lists.dropItems.clear();
    trace("<--Free populate list", 4);
}

void SccInterface::addPopulateEntry(SCCBOOL keep, const char *fileName) {
    bool toKeep = (keep & 0xff) != 0;
    auto &items = toKeep ? lists.keepItems : lists.dropItems;
    auto &capacity = toKeep ? lists.keepCapacity : lists.dropCapacity;
    if (static_cast<int32_t>(items.size()) >= capacity)
        growPopulateList(capacity, items);
    items.push(fileName);
}

int32_t SccInterface::populateList(int32_t command, int32_t n, const char **names,
                                   SCCLONG *status, int32_t options) {
    trace("-->Get populate list", 1);
    if (traceLevel() > 3)
        traceFileList(names, n);
    freePopulateList();
    createPopulateList(false);
    ProviderCall call =
        calls::populateList(command, n, names, status, options, populateCallback, this);
    CallOutcome outcome = callProvider(call);
    int32_t result = outcome.missing ? kNoEntryPoint : outcome.code;
    trace("<--Get populate list", 1);
    return result;
}

int32_t SccInterface::getListNumber(int32_t which) const {
    int32_t count = static_cast<int32_t>(which ? lists.keepItems.size() : lists.dropItems.size());
    if (traceLevel() > 3)
        traceLine(("getListNumber(" + std::to_string(which) + ")=" + std::to_string(count)).c_str());
    return count;
}

const NameList &SccInterface::getList(int32_t which) const {
    const auto &items = which ? lists.keepItems : lists.dropItems;
    if (traceLevel() > 3) {
        traceLine("-->getList");
        traceLine(("getList(" + std::to_string(which) + ") size=" + std::to_string(items.size()))
                      .c_str());
        for (size_t i = 0; i < items.size(); ++i)
            traceLine(("  " + std::to_string(i + 1) + ": " + items[i]).c_str());
        traceLine("<--getList");
    }
    return items;
}

} // namespace oskel

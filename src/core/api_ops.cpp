// Operations the typed Java API needs beside the natives of JavaSCCInterface:
// releasing a connection for good. JNI-free, so that C++ tests reach them.
#include "core/api_ops.h"

#include <string>
#include <vector>

#include "core/SccInterface.h"
#include "core/handles.h"
#include "core/message_list.h"

namespace oskel {

int32_t SccInterface::end() {
    int32_t code = uninitialize();
    connection.provider.reset();
    return code;
}

namespace api {

int32_t release(int64_t handle) {
    SccInterface *object = handles::find(handle);
    if (object == nullptr || !handles::remove(handle))
        return kBadHandle;
    int32_t code = object->end();
    // The destructor empties the process-wide message list; what other
    // connections' providers sent and nobody fetched yet is kept.
    std::vector<std::string> pending;
    try {
        pending = messages::takeMessages();
    } catch (...) {
    }
    delete object;
    try {
        for (const auto &entry : pending)
            messages::appendMessage(entry);
    } catch (...) {
        // Out of memory: the rest of the entries are lost.
    }
    return code;
}

} // namespace api
} // namespace oskel

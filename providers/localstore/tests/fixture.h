// A scratch folder with a working folder "work" and a store folder "store",
// and a client of user alice with the project open.
#pragma once

#include "harness.h"

#include <gtest/gtest.h>

#include <memory>

namespace lstest {

#define EXPECT_CODE(call, expected)                                                                   \
    do {                                                                                              \
        SCCRTN code_ = (call);                                                                        \
        EXPECT_EQ(codeText(code_), codeText(expected)) << #call << "\n" << describe(takeMessages());  \
    } while (0)

#define ASSERT_CODE(call, expected)                                                                   \
    do {                                                                                              \
        SCCRTN code_ = (call);                                                                        \
        ASSERT_EQ(codeText(code_), codeText(expected)) << #call << "\n" << describe(takeMessages());  \
    } while (0)

class ProviderTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string missing;
        provider(&missing);
        ASSERT_EQ(missing, "") << "entry points missing from " << providerPath();
        work = dir / "work";
        store = dir / "store";
        makeDirs(work);
        takeMessages();
        alice = std::make_unique<Client>();
        ASSERT_CODE(alice->open("alice", work, store), SCC_OK);
        takeMessages();
    }

    void TearDown() override {
        alice.reset();
        takeMessages();
    }

    // A file of the working folder.
    std::string W(const std::string &relative) const { return join(work, relative); }

    // A second user with a working folder of their own on the same store.
    std::unique_ptr<Client> openAs(const std::string &user, const std::string &folder) {
        makeDirs(folder);
        auto client = std::make_unique<Client>();
        SCCRTN code = client->open(user, folder, store);
        EXPECT_EQ(codeText(code), codeText(SCC_OK)) << describe(takeMessages());
        return client;
    }

    // Writes and adds one file.
    void addFile(const std::string &relative, const std::string &data) {
        writeFile(W(relative), data);
        ASSERT_CODE(alice->add({W(relative)}), SCC_OK);
    }

    ScratchDir dir;
    std::string work;
    std::string store;
    std::unique_ptr<Client> alice;
};

} // namespace lstest

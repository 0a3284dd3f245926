#include "OrvexCommon/objects/OrvexObject.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using namespace Orvex;

std::vector<const COrvexObject*> g_created;
std::vector<const COrvexObject*> g_destroyed;

void OnCreate(COrvexObject* object) {
    g_created.push_back(object);
}
void OnDestroy(COrvexObject* object) {
    g_destroyed.push_back(object);
}

class ObjectCallbacks : public ::testing::Test {
protected:
    void SetUp() override {
        g_created.clear();
        g_destroyed.clear();
    }
    void TearDown() override {
        SetObjectCreateCallBack(nullptr);
        SetObjectDestoryCallBack(nullptr);
    }
};

TEST_F(ObjectCallbacks, NothingHappensWithoutCallbacks) {
    EXPECT_EQ(nullptr, GetObjectCreateCallBack());
    EXPECT_EQ(nullptr, GetObjectDestoryCallBack());
    { COrvexObject object; }
    EXPECT_TRUE(g_created.empty());
    EXPECT_TRUE(g_destroyed.empty());
}

TEST_F(ObjectCallbacks, ConstructionAndDestructionAreReportedWithTheAddress) {
    SetObjectCreateCallBack(OnCreate);
    SetObjectDestoryCallBack(OnDestroy);
    EXPECT_EQ(&OnCreate, GetObjectCreateCallBack());
    EXPECT_EQ(&OnDestroy, GetObjectDestoryCallBack());
    const COrvexObject* address = nullptr;
    {
        COrvexObject object;
        address = &object;
        ASSERT_EQ(1u, g_created.size());
        EXPECT_EQ(address, g_created[0]);
        EXPECT_TRUE(g_destroyed.empty());
    }
    ASSERT_EQ(1u, g_destroyed.size());
    EXPECT_EQ(address, g_destroyed[0]);
}

TEST_F(ObjectCallbacks, ACallbackSetLaterSeesTheDestruction) {
    auto* object = new COrvexObject;
    const COrvexObject* address = object;
    SetObjectDestoryCallBack(OnDestroy);
    delete object;
    EXPECT_TRUE(g_created.empty());
    ASSERT_EQ(1u, g_destroyed.size());
    EXPECT_TRUE(address == g_destroyed[0]);
}

TEST_F(ObjectCallbacks, CopiesAreNotCreatedButAreDestroyedAndAssignmentIsSilent) {
    COrvexObject original;
    SetObjectCreateCallBack(OnCreate);
    SetObjectDestoryCallBack(OnDestroy);
    {
        COrvexObject copy(original);
        EXPECT_TRUE(g_created.empty()) << "the implicit copy constructor";
        COrvexObject other;
        ASSERT_EQ(1u, g_created.size());
        other = copy;
        EXPECT_EQ(1u, g_created.size());
        EXPECT_TRUE(g_destroyed.empty());
    }
    EXPECT_EQ(2u, g_destroyed.size());
}

} // namespace

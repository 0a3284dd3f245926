// The object life-cycle callbacks.
#include "OrvexCommon/objects/OrvexObject.h"

#include <atomic>

namespace Orvex {

namespace {

std::atomic<ObjectCallBack> g_createCallBack{nullptr};
std::atomic<ObjectCallBack> g_destroyCallBack{nullptr};

} // namespace

void SetObjectCreateCallBack(ObjectCallBack callback) {
    g_createCallBack.store(callback);
}
ObjectCallBack GetObjectCreateCallBack() {
    return g_createCallBack.load();
}
void SetObjectDestoryCallBack(ObjectCallBack callback) {
    g_destroyCallBack.store(callback);
}
ObjectCallBack GetObjectDestoryCallBack() {
    return g_destroyCallBack.load();
}

COrvexObject::COrvexObject() {
    if (ObjectCallBack callback = g_createCallBack.load(std::memory_order_acquire)) {
        callback(this);
    }
}

COrvexObject::~COrvexObject() {
    if (ObjectCallBack callback = g_destroyCallBack.load(std::memory_order_acquire)) {
        callback(this);
    }
}

} // namespace Orvex

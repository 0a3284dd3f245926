// The lock-free table of the package registry's settled answers.
#include "OrvexCommon/file/detail/SettledPackages.h"

#include <cwchar>

namespace Orvex {
namespace detail {

void CSettledPackages::Publish(const wchar_t* spelling, std::size_t length, SPackage* package) {
    if (m_used >= kSlots / 4 * 3) {
        return;
    }
    const std::uint64_t hash = AddSpellingHash(kSpellingHashStart, spelling, length);
    std::size_t index = hash & (kSlots - 1);
    // Only this lock's holder writes, so a slot seen free here stays free.
    while (m_slots[index].ready.load(std::memory_order_relaxed)) {
        index = (index + 1) & (kSlots - 1);
    }
    Slot& slot = m_slots[index];
    slot.hash = hash;
    slot.spelling = spelling;
    slot.length = length;
    slot.package = package;
    slot.ready.store(true, std::memory_order_release);
    ++m_used;
}

bool CSettledPackages::Matches(const Slot& slot, const SSpelling& spelling) {
    return slot.hash == spelling.hash && slot.length == spelling.headLength + spelling.tailLength &&
           std::wmemcmp(slot.spelling, spelling.head, spelling.headLength) == 0 &&
           std::wmemcmp(slot.spelling + spelling.headLength, spelling.tail, spelling.tailLength) ==
               0;
}

const CSettledPackages::Slot* CSettledPackages::FindSlot(const SSpelling& spelling) const {
    for (std::size_t index = spelling.hash & (kSlots - 1);
         m_slots[index].ready.load(std::memory_order_acquire); index = (index + 1) & (kSlots - 1)) {
        if (Matches(m_slots[index], spelling)) {
            return &m_slots[index];
        }
    }
    return nullptr;
}

bool CSettledPackages::Find(const SSpelling& spelling, bool wantZip, SSettledAnswer& answer) const {
    const Slot* slot = FindSlot(spelling);
    if (slot == nullptr) {
        return false;
    }
    answer.package = slot->package;
    if (wantZip && answer.package == nullptr) {
        answer.zipSettled = slot->zipSettled.load(std::memory_order_acquire);
        answer.zip = answer.zipSettled ? slot->zip.load(std::memory_order_relaxed) : nullptr;
    }
    return true;
}

void CSettledPackages::SettleZip(const SSpelling& spelling, SZipArchive* zip) {
    // Only the zip answer changes, and every writer writes the same one.
    auto* slot = const_cast<Slot*>(FindSlot(spelling));
    if (slot != nullptr && slot->package == nullptr) {
        slot->zip.store(zip, std::memory_order_relaxed);
        slot->zipSettled.store(true, std::memory_order_release);
    }
}

} // namespace detail
} // namespace Orvex

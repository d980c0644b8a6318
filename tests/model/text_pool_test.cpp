#include "model/dat_file_desc.h"
#include "model/text_pool.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

// A text whose every byte tells its owner and position.
std::string pattern(std::size_t owner, std::size_t size) {
    std::string s(size, '\0');
    for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>('A' + (owner * 7 + i) % 26);
    return s;
}

TEST(TextPool, TextsOfEverySizeKeepTheirBytesWhileOthersComeAndGo) {
    // Sizes across every class, the largest pooled one and the heap's.
    std::vector<Text> kept;
    std::vector<Text> passing;
    for (std::size_t size = 0; size <= 600; ++size) {
        kept.emplace_back(pattern(size, size));
        passing.emplace_back(pattern(size + 1, size));
        const Text& same = kept.back();
        kept.back() = same;  // a copy of itself changes nothing
        if (size % 3 == 0) passing.erase(passing.begin());  // freed blocks are taken again
        kept.back() = ToString(kept.back()) + pattern(size + 2, size % 40);  // grows into another class
    }
    passing.clear();
    for (std::size_t size = 0; size <= 600; ++size)
        kept.emplace_back(pattern(size + 3, size));  // from what `passing` gave back
    for (std::size_t size = 0; size <= 600; ++size) {
        EXPECT_EQ(kept[size], pattern(size, size) + pattern(size + 2, size % 40)) << size;
        EXPECT_EQ(kept[601 + size], pattern(size + 3, size)) << size;
    }
}

TEST(TextPool, ATextBecomesAnyPartOfItself) {
    // Parts of every length, so that the text keeps its room or takes new
    // room (its old bytes read before they are given back).
    for (std::size_t size = 0; size <= 40; ++size) {
        const std::string whole = pattern(size, size);
        for (std::size_t from = 0; from <= size; ++from) {
            Text tail(whole);
            tail = std::string_view(tail).substr(from);
            EXPECT_EQ(tail, whole.substr(from)) << size << " from " << from;
            Text head(whole);
            head = std::string_view(head).substr(0, from);
            EXPECT_EQ(head, whole.substr(0, from)) << size << " up to " << from;
            EXPECT_EQ(head.data()[head.size()], '\0');
        }
    }
}

TEST(TextPool, SharedBytesChangeOnlyThroughACopyOfTheirOwn) {
    // Short and long texts (a long one is counted whoever made it).
    for (const std::size_t size : {std::size_t{1}, std::size_t{40}, std::size_t{254}, std::size_t{255}, std::size_t{700}}) {
        const std::string bytes = pattern(size, size);
        Text kept = Text::Shared(bytes);
        Text copy = kept;
        EXPECT_EQ(std::as_const(copy).data(), std::as_const(kept).data()) << size << ": a copy of a shared text shares its bytes";
        Text assigned;
        assigned = copy;
        EXPECT_EQ(std::as_const(assigned).data(), std::as_const(kept).data()) << size;

        // Bytes changed in place, or given anew at the same size, leave the
        // others as they were.
        copy.data()[0] = '#';
        assigned = pattern(size + 1, size);
        EXPECT_EQ(kept, bytes) << size;
        EXPECT_EQ(copy, "#" + bytes.substr(1)) << size;
        EXPECT_EQ(assigned, pattern(size + 1, size)) << size;

        // The last holder of the bytes changes them in place; the others'
        // going does not take them away.
        Text last = kept;
        kept = Text();
        const char* before = std::as_const(last).data();
        last.data()[0] = '%';
        EXPECT_EQ(std::as_const(last).data(), before) << size;
        last = std::string_view(last).substr(size / 2);  // a part of itself, while shared or not
        EXPECT_EQ(last, ("%" + bytes.substr(1)).substr(size / 2)) << size;
        EXPECT_EQ(std::as_const(last).data()[last.size()], '\0') << size;
    }
    // A text that only moves is never copied.
    Text moved = Text::Shared("C:\\DATA\\");
    const char* bytes = std::as_const(moved).data();
    Text taken = std::move(moved);
    EXPECT_EQ(std::as_const(taken).data(), bytes);
    EXPECT_TRUE(moved.empty());  // NOLINT(bugprone-use-after-move): a moved-from text is empty
    EXPECT_TRUE(Text::Shared("").empty());
}

TEST(TextPool, ARunReadAgainTakesBackTheRoomOfTheOneBefore) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "under the address sanitizer every text is a heap block of its own";
#else
    auto fill = [](TDatFileDescList& list) {
        for (int i = 0; i < 20000; ++i)
            SetPaths(list.Add(), "ID" + std::to_string(i), "C:\\DATA\\PART\\FILE" + std::to_string(i) + ".DAT",
                     "Display name of row " + std::to_string(i));
    };
    // The entry and its five texts, none of them empty.
    auto addresses = [](const TDatFileDesc& entry) {
        return std::array<std::uintptr_t, 6>{
            reinterpret_cast<std::uintptr_t>(&entry), reinterpret_cast<std::uintptr_t>(entry.Id.data()),
            reinterpret_cast<std::uintptr_t>(entry.FileName.data()), reinterpret_cast<std::uintptr_t>(entry.FileDir.data()),
            reinterpret_cast<std::uintptr_t>(entry.Name.data()), reinterpret_cast<std::uintptr_t>(entry.RawPath.data())};
    };
    std::set<std::uintptr_t> first;
    {
        TDatFileDescList list;
        fill(list);
        for (const auto& entry : list.Items)
            for (const auto address : addresses(*entry)) first.insert(address);
    }
    TDatFileDescList again;
    fill(again);
    std::size_t reused = 0;
    for (const auto& entry : again.Items)
        for (const auto address : addresses(*entry)) reused += first.count(address);
    EXPECT_EQ(reused, 6u * 20000u);
    EXPECT_EQ(again.Item(19999).Name, "Display name of row 19999");
    EXPECT_EQ(again.Item(19999).FileDir, "C:\\DATA\\PART\\");
#endif
}

}  // namespace

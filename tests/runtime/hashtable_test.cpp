// Hash tables: sizing, growth and deletion marks, duplicate keys, node-keyed entries, the hash functions
// and the word map.
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/gc.h"
#include "runtime/values/hashtable.h"
#include "runtime/memory.h"
#include "runtime/output.h"
#include "runtime/unicode.h"
#include "tests/support.h"

namespace zol::test {
namespace {

// Keys are words (their compare is built): key(n) is the word key-<n>.
Cell key(int n) {
    Cell w;
    set_word(&w, TYPE_WORD, 0, symbol_make(("key-" + std::to_string(n)).c_str()));
    return w;
}

class HashTableTest : public RuntimeTest {
protected:
    // A block of keys held by a root, and a table over it held as a map! cell.
    void make(HashKind kind, std::initializer_list<int> keys) {
        set_series(block_.get(), TYPE_BLOCK, series_alloc_cells(keys.size() + 1));
        for (int k : keys) *block_alloc_tail(block_.get()) = key(k);
        uint32_t table = hashtable_make(uint32_t(keys.size()), series_node(block_.get()), kind, 1);
        table_->header = TYPE_MAP;
        table_->w1 = table_->w2 = 0;
        table_->w3 = table;
    }
    uint32_t table() { return table_->w3; }
    int32_t find(int k, uint32_t start = 0, bool reverse = false) {
        Cell c = key(k);
        return hashtable_get(table(), &c, CMP_FIND, start, reverse);
    }
    // Appends a key (and, for a map, its value) and indexes the key.
    bool add(int k) {
        *block_alloc_tail(block_.get()) = key(k);
        uint32_t position = cell_series(block_.get())->used() - 1;
        if (hashtable_kind(table()) == HASH_MAP) *block_alloc_tail(block_.get()) = g_none_value;
        return hashtable_put(table(), position);
    }
    GcRoot block_, table_;
};

TEST_F(HashTableTest, ASmallTableHasEightBuckets) {
    uint32_t t = hashtable_make(0, 0, HASH_MAP, 1);
    EXPECT_EQ(hashtable_bucket_count(t), 8u);
    EXPECT_EQ(hashtable_upper_bound(t), 6u);
}

TEST_F(HashTableTest, MapKeepsTheFirstOfEqualKeys) {
    make(HASH_MAP, {});
    EXPECT_TRUE(add(7));
    EXPECT_FALSE(add(7)) << "the second equal key is not indexed";
    EXPECT_EQ(hashtable_count(table()), 1u);
    EXPECT_EQ(find(7), 0);
    EXPECT_EQ(find(8), -1);
}

TEST_F(HashTableTest, HashBlockKeepsEveryPositionOfEqualKeys) {
    make(HASH_BLOCK, {5, 6, 5, 7, 5});
    EXPECT_EQ(hashtable_count(table()), 5u);
    EXPECT_EQ(find(5), 0);
    EXPECT_EQ(find(5, 1), 2) << "the first equal key at or after the start";
    EXPECT_EQ(find(5, 3), 4);
    EXPECT_EQ(find(5, 3, true), 2) << "searching backwards";
    EXPECT_EQ(find(5, 5), -1);
    EXPECT_EQ(find(6), 1);
    EXPECT_EQ(find(8), -1);
    hashtable_delete(table(), 2);
    EXPECT_EQ(find(5, 1), 4);
    hashtable_delete(table(), 0);
    hashtable_delete(table(), 4);
    EXPECT_EQ(find(5), -1) << "an emptied chain frees its bucket";
    EXPECT_EQ(find(7), 3);
}

TEST_F(HashTableTest, GrowsAndRehashesAtTheSameSizeWhenCrowdedByDeletions) {
    make(HASH_BLOCK, {});
    for (int i = 0; i < 200; i++) add(i);
    EXPECT_EQ(hashtable_count(table()), 200u);
    EXPECT_GE(hashtable_bucket_count(table()), 256u);
    for (int i = 0; i < 200; i++) ASSERT_EQ(find(i), i);
    // Delete most keys, then keep inserting and deleting new ones: deleted buckets are swept out by a
    // rehash at the same size, so the table does not keep growing.
    uint32_t buckets = hashtable_bucket_count(table());
    for (int i = 0; i < 190; i++) hashtable_delete(table(), uint32_t(i));
    for (int i = 200; i < 1000; i++) {
        add(i);
        hashtable_delete(table(), uint32_t(i));
    }
    EXPECT_EQ(hashtable_bucket_count(table()), buckets);
    EXPECT_EQ(hashtable_count(table()), 10u);
    for (int i = 190; i < 200; i++) EXPECT_EQ(find(i), i);
}

TEST_F(HashTableTest, StringKeysHashAlikeAcrossUnitsAndCase) {
    GcRoot wide, upper;
    string_make(wide.get());
    string_append_utf8(wide.get(), reinterpret_cast<const uint8_t*>("abc\xC3\xA9\xF0\x9F\x98\x80"), 9);
    string_truncate(wide.get(), 4);
    ASSERT_EQ(cell_series(wide.get())->unit(), 4u);
    string_make(upper.get());
    string_append_utf8(upper.get(), reinterpret_cast<const uint8_t*>("ABC\xC3\x89"), 5);
    GcRoot latin;  // "abcé" in one-byte units
    string_make(latin.get());
    unicode_load_utf8_into(reinterpret_cast<const uint8_t*>("abc\xC3\xA9"), 5, latin.get(), nullptr);
    ASSERT_EQ(cell_series(latin.get())->unit(), 1u);
    EXPECT_EQ(hash_string(latin.get(), true), hash_string(wide.get(), true));
    EXPECT_EQ(hash_string(latin.get(), false), hash_string(upper.get(), false));
    EXPECT_NE(hash_string(latin.get(), true), hash_string(upper.get(), true));
    // Comparison folds to upper case, so keys equal without case must hash alike: sharp s and ß's upper S.
    GcRoot sharp, ess;
    string_make(sharp.get());
    string_append_utf8(sharp.get(), reinterpret_cast<const uint8_t*>("\xC3\x9F"), 2);
    string_make(ess.get());
    string_append_ascii(ess.get(), "S");
    EXPECT_EQ(hash_string(sharp.get(), false), hash_string(ess.get(), false));
}

TEST_F(HashTableTest, WordsHashAlikeRegardlessOfCase) {
    Cell lower, upper;
    set_word(&lower, TYPE_WORD, 0, symbol_make_flagged("hash-me"));
    set_word(&upper, TYPE_WORD, 0, symbol_make_flagged("HASH-ME"));
    EXPECT_NE(word_symbol(&lower), word_symbol(&upper));
    EXPECT_EQ(hash_cell(&lower, false), hash_cell(&upper, false));
}

TEST_F(HashTableTest, NodeKeyedEntries) {
    GcRoot t;
    t->header = TYPE_MAP;
    t->w1 = t->w2 = 0;
    t->w3 = hashtable_make(4, 0, HASH_NODES, 2);
    uint32_t table = t->w3;
    GcRoot keys[3];
    for (auto& k : keys) set_series(k.get(), TYPE_BLOCK, series_alloc_cells(1));
    for (int i = 0; i < 3; i++) {
        Cell* v = hashtable_put_node(table, series_node(keys[i].get()));
        EXPECT_TRUE(cell_is(v, TYPE_UNSET));
        set_integer(v, i);
    }
    for (int i = 0; i < 3; i++) EXPECT_EQ(cell_int(hashtable_get_node(table, series_node(keys[i].get()))), i);
    EXPECT_EQ(cell_int(hashtable_put_node(table, series_node(keys[1].get()))), 1) << "an existing entry is kept";
    hashtable_delete_node(table, series_node(keys[1].get()));
    EXPECT_EQ(hashtable_get_node(table, series_node(keys[1].get())), nullptr);
    EXPECT_EQ(hashtable_count(table), 2u);
    Cell* again = hashtable_put_node(table, series_node(keys[1].get()));
    EXPECT_TRUE(cell_is(again, TYPE_UNSET)) << "a re-added entry starts unset";
}

TEST_F(HashTableTest, TheMurmurFunctionsAreTheStandardOnes) {
    // MurmurHash3 x86_32 is seeded with the runtime's seed, so check its structure rather than constants:
    // the finaliser is a bijection and distinct short keys spread.
    EXPECT_EQ(hash_mix(0), 0u);
    EXPECT_NE(hash_mix(1), hash_mix(2));
    const uint8_t a[] = "abcd", b[] = "abce";
    EXPECT_NE(hash_murmur3(a, 4), hash_murmur3(b, 4));
    EXPECT_EQ(hash_murmur3(a, 4), hash_murmur3(a, 4));
    EXPECT_NE(hash_murmur3(a, 3), hash_murmur3(a, 4));
}

std::string g_dumped;
platform::WriteStatus capture(const char* bytes, size_t n) {
    g_dumped.append(bytes, n);
    return platform::WriteStatus::ok;
}

TEST_F(HashTableTest, DumpListsDeletedThenLiveBuckets) {
    make(HASH_MAP, {});
    add(1);
    add(2);
    hashtable_delete(table(), 0);
    OutputSink previous = console_set_sink(capture);
    g_dumped.clear();
    hashtable_dump(table());
    console_set_sink(previous);
    size_t deleted = g_dumped.find("== Deleted keys =="), alive = g_dumped.find("== Alive keys ==");
    ASSERT_NE(deleted, std::string::npos);
    ASSERT_NE(alive, std::string::npos);
    std::string deleted_part = g_dumped.substr(deleted, alive - deleted), alive_part = g_dumped.substr(alive);
    EXPECT_NE(deleted_part.find(" 0\n"), std::string::npos) << g_dumped;
    EXPECT_NE(alive_part.find(" 2\n"), std::string::npos) << g_dumped;
    EXPECT_EQ(alive_part.find(" 0\n"), std::string::npos) << g_dumped;
}

TEST(WordMap, PutGetDeleteAndWalk) {
    WordMap* m = wordmap_make(0);
    EXPECT_EQ(wordmap_bucket_count(m), 8u);
    for (uint32_t k = 1; k <= 100; k++) wordmap_put(m, k * 7919, k);
    EXPECT_EQ(wordmap_count(m), 100u);
    EXPECT_GE(wordmap_bucket_count(m), 128u);
    for (uint32_t k = 1; k <= 100; k++) ASSERT_EQ(*wordmap_get(m, k * 7919), k);
    wordmap_put(m, 7919, 500);
    EXPECT_EQ(*wordmap_get(m, 7919), 500u) << "put replaces";
    wordmap_delete(m, 2 * 7919);
    EXPECT_EQ(wordmap_get(m, 2 * 7919), nullptr);
    uint32_t seen = 0;
    for (uint32_t* v = wordmap_next(m, nullptr); v; v = wordmap_next(m, v)) seen++;
    EXPECT_EQ(seen, 99u);
    wordmap_clear(m);
    EXPECT_EQ(wordmap_count(m), 0u);
    EXPECT_EQ(wordmap_get(m, 3 * 7919), nullptr);
    wordmap_free(m);
}

}  // namespace
}  // namespace zol::test

// Figures for the block pools and keyed maps, printed, never asserted
// (command: ./norvane.sh bench, or benchmark/run.sh BUILD_DIR):
// - a PoolFree + PoolAlloc pair against a HeapFree + HeapAlloc pair of the
//   same size on the same private heap, each with 1024 blocks standing so
//   that the pool keeps its chunks (an empty pool makes and frees a chunk
//   on every pair, which is the heap's cost and then some);
// - MapFind on a 1024-bucket map of 1000 keys against
//   std::unordered_map<std::string, int>::find on the same keys, prebuilt;
// - ObjectGet of a static number against indexing a plain array of record
//   pointers, and an ObjectAllocate + ObjectRelease pair of ANY_NUMBER
//   against a HeapAlloc + HeapFree pair of the same record size.
#include <windows.h>

#include <stdint.h>
#include <stdio.h>

#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "runtime/data/keyed_map.h"
#include "runtime/data/object_table.h"
#include "runtime/data/pool.h"
#include "runtime/process/globals.h"

namespace {

double NowNs()
{
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return double(now.QuadPart) * 1e9 / double(frequency.QuadPart);
}

// Best of a few runs: the figure least disturbed by the rest of the machine.
template <typename Body>
double BestNsPerOp(int runs, int ops, Body body)
{
    double best = 1e300;
    for (int r = 0; r < runs; ++r) {
        double start = NowNs();
        body();
        double each = (NowNs() - start) / ops;
        if (each < best)
            best = each;
    }
    return best;
}

const int STANDING = 1024;
const int PAIRS = 2000000;
const uint32_t BLOCK = 32;

void BenchPools()
{
    std::mt19937 random(1);
    std::vector<uint32_t> slots(PAIRS);
    for (auto& slot : slots)
        slot = random() % STANDING;
    uintptr_t check = 0;

    std::vector<void*> live(STANDING);
    auto poolPairs = [&](uint32_t flags) {
        BlockPool* pool = PoolCreate(BLOCK, 16, 65536, flags);
        for (auto& block : live)
            block = PoolAlloc(pool);
        double ns = BestNsPerOp(5, PAIRS, [&] {
            for (int i = 0; i < PAIRS; ++i) {
                void*& block = live[slots[i]];
                PoolFree(pool, block);
                block = PoolAlloc(pool);
                check += uintptr_t(block);
            }
        });
        PoolRelease(pool);
        return ns;
    };
    double unlocked = poolPairs(POOL_UNLOCKED);
    double locked = poolPairs(POOL_LOCKED);

    for (auto& block : live)
        block = HeapAlloc(MainHeap, 0, BLOCK);
    double heap = BestNsPerOp(5, PAIRS, [&] {
        for (int i = 0; i < PAIRS; ++i) {
            void*& block = live[slots[i]];
            HeapFree(MainHeap, 0, block);
            block = HeapAlloc(MainHeap, 0, BLOCK);
            check += uintptr_t(block);
        }
    });
    for (auto& block : live)
        HeapFree(MainHeap, 0, block);

    printf("block of %u bytes, %d standing, free+alloc pairs:\n", BLOCK, STANDING);
    printf("  HeapFree+HeapAlloc          %7.2f ns per pair\n", heap);
    printf("  PoolFree+PoolAlloc unlocked %7.2f ns per pair  (%.1fx faster than the heap)\n", unlocked,
           heap / unlocked);
    printf("  PoolFree+PoolAlloc locked   %7.2f ns per pair  (%.1fx faster than the heap)\n", locked,
           heap / locked);
    printf("  (checksum %llu)\n", (unsigned long long)(check & 0xFFFF));
}

const int KEYS = 1000;
const int LOOKUP_ROUNDS = 2000;

void BenchMaps()
{
    std::mt19937 random(2);
    std::vector<std::string> keys;
    for (int i = 0; i < KEYS; ++i) {
        char text[64];
        // Shaped like the event bindings' keys: "code:window:object:type".
        snprintf(text, sizeof text, "%d:%d:%d:%d", 13100 + int(random() % 17), int(random() % 64),
                 int(random() % 4096), int(random() % 8) - 1);
        keys.push_back(text);
    }
    std::vector<int> order(KEYS * 4);
    for (auto& k : order)
        k = int(random() % KEYS);
    const int lookups = LOOKUP_ROUNDS * int(order.size());

    std::unordered_map<std::string, int> reference;
    for (int i = 0; i < KEYS; ++i)
        reference[keys[i]] = i;
    long long sum = 0;
    double standard = BestNsPerOp(3, lookups, [&] {
        for (int r = 0; r < LOOKUP_ROUNDS; ++r)
            for (int k : order)
                sum += reference.find(keys[k])->second;
    });

    auto mapFinds = [&](uint32_t flags) {
        KeyedMap* map = nullptr;
        MapCreate(sizeof(int), 7, nullptr, &map, 1024);
        map->flags |= flags;
        for (int i = 0; i < KEYS; ++i)
            *static_cast<int*>(MapAdd(map, keys[i].c_str())) = i;
        std::vector<const char*> texts;
        for (auto& key : keys)
            texts.push_back(key.c_str());
        double ns = BestNsPerOp(3, lookups, [&] {
            for (int r = 0; r < LOOKUP_ROUNDS; ++r)
                for (int k : order)
                    sum += *static_cast<int*>(MapFind(map, texts[k]));
        });
        MapFree(map);
        return ns;
    };
    double sensitive = mapFinds(0);
    double noCase = mapFinds(MAP_NOCASE);

    printf("lookups of %d keys present (1024 buckets):\n", KEYS);
    printf("  std::unordered_map<std::string,int>::find %7.2f ns\n", standard);
    printf("  MapFind, case-sensitive                   %7.2f ns  (%.2fx the unordered_map's time)\n",
           sensitive, sensitive / standard);
    printf("  MapFind, MAP_NOCASE                       %7.2f ns  (%.2fx the unordered_map's time)\n", noCase,
           noCase / standard);
    printf("  (checksum %lld)\n", sum & 0xFFFF);
}

const int OBJECT_SLOTS = 50;  // the gadget table's growth step
const int OBJECT_GETS = 4000000;
const int OBJECT_PAIRS = 1000000;
const uint32_t OBJECT_RECORD = 64;

void BenchObjectTables()
{
    ObjectTable* table = ObjectTableCreate(OBJECT_RECORD, OBJECT_SLOTS, nullptr);
    std::vector<void*> plain(OBJECT_SLOTS);
    for (int n = 0; n < OBJECT_SLOTS; ++n) {
        void* record = ObjectAllocate(table, n);
        *static_cast<uintptr_t*>(record) = 1;  // alive
        plain[n] = record;
    }
    std::mt19937 random(3);
    std::vector<uint8_t> numbers(OBJECT_GETS);
    for (auto& number : numbers)
        number = uint8_t(random() % OBJECT_SLOTS);
    uintptr_t check = 0;

    double get = BestNsPerOp(5, OBJECT_GETS, [&] {
        for (int i = 0; i < OBJECT_GETS; ++i)
            check += uintptr_t(ObjectGet(table, numbers[i]));
    });
    // The same walk with the record read as ObjectGet's caller would: only
    // the table's lock, bounds check and alive mark differ.
    void* volatile* slots = plain.data();
    double index = BestNsPerOp(5, OBJECT_GETS, [&] {
        for (int i = 0; i < OBJECT_GETS; ++i) {
            void* record = slots[numbers[i]];
            check += *static_cast<uintptr_t*>(record) ? uintptr_t(record) : 0;
        }
    });

    double objectPair = BestNsPerOp(5, OBJECT_PAIRS, [&] {
        for (int i = 0; i < OBJECT_PAIRS; ++i) {
            void* record = ObjectAllocate(table, ANY_NUMBER);
            check += uintptr_t(record);
            ObjectRelease(table, (ObjectNumber)record);
        }
    });
    double heapPair = BestNsPerOp(5, OBJECT_PAIRS, [&] {
        for (int i = 0; i < OBJECT_PAIRS; ++i) {
            void* record = HeapAlloc(MainHeap, HEAP_ZERO_MEMORY, OBJECT_RECORD);
            check += uintptr_t(record);
            HeapFree(MainHeap, 0, record);
        }
    });

    printf("object table of %d static %u-byte records:\n", OBJECT_SLOTS, OBJECT_RECORD);
    printf("  plain array index                         %7.2f ns\n", index);
    printf("  ObjectGet, static number                  %7.2f ns  (%.1fx the index's time)\n", get,
           get / index);
    printf("  HeapAlloc+HeapFree, zero-filled           %7.2f ns per pair\n", heapPair);
    printf("  ObjectAllocate+ObjectRelease, ANY_NUMBER  %7.2f ns per pair  (%.2fx the heap's time)\n",
           objectPair, objectPair / heapPair);
    printf("  (checksum %llu)\n", (unsigned long long)(check & 0xFFFF));
}

}  // namespace

int main()
{
    MainHeap = HeapCreate(0, 4096, 0);
    BenchPools();
    BenchMaps();
    BenchObjectTables();
    return 0;
}

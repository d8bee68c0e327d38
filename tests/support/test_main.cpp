// Start of every Windows test program: what the entry routine does before
// the services start (instance handle, main heap), then GoogleTest.
#include <gtest/gtest.h>

#include "runtime/process/globals.h"

int main(int argc, char** argv)
{
    InstanceHandle = GetModuleHandleA(nullptr);
    MainHeap = HeapCreate(0, 4096, 0);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

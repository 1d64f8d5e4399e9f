#include "diag/coregate.h"

#include <gtest/gtest.h>

#include <thread>

TEST(CoreGate, OpenWhileAtMostOneBlockIsInWork)
{
    EXPECT_EQ(CoreGate::current(), nullptr);
    EXPECT_TRUE(CoreGate::isOpen(nullptr));
    CoreGate gate, inner;
    EXPECT_TRUE(gate.open());
    {
        CoreGate::InWork first(gate);
        EXPECT_EQ(CoreGate::current(), &gate);
        EXPECT_TRUE(gate.open());
        std::thread([&gate] {
            // Another thread's block: counted in the gate, which is not
            // this thread's current one.
            CoreGate::InWork second(gate);
            EXPECT_FALSE(gate.open());
        }).join();
        EXPECT_TRUE(gate.open());
        {
            CoreGate::InWork nested(inner);
            EXPECT_EQ(CoreGate::current(), &inner);
        }
        EXPECT_EQ(CoreGate::current(), &gate);
        {
            CoreGate::InWork again(gate);
            EXPECT_FALSE(CoreGate::isOpen(CoreGate::current()));
        }
        EXPECT_TRUE(CoreGate::isOpen(CoreGate::current()));
    }
    EXPECT_EQ(CoreGate::current(), nullptr);
}

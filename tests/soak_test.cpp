// A short soak for every run of the suite; bench/ runs the long one.
#include <gtest/gtest.h>

#include "sim/soak.h"

namespace {

TEST(Soak, MemoryDescriptorsAndHandlesStayFlat)
{
    sim::SoakFigures f = sim::soak(TEMPSWITCH_BINARY, 1000, 100);
    EXPECT_EQ(f.status, 1);  // ended by the sensor unplugged at the last reading
    EXPECT_EQ(f.cycles, 1000);
    EXPECT_EQ(f.rssKbEnd, f.rssKbEarly) << "resident memory grew";
    EXPECT_EQ(f.fdsEnd, f.fdsEarly);
    EXPECT_EQ(f.fdsEnd, f.fdsStart);
    EXPECT_EQ(f.handlesEnd, 1);
    EXPECT_LE(f.mostHandles, 2);
    printf("[ info ] %d cycles in %.1f s: %.0f us CPU per cycle, RSS %ld kB at 100, %ld kB at end, peak %ld kB\n",
           f.cycles, f.wallSeconds, f.cpuSecondsPerCycle * 1e6, f.rssKbEarly, f.rssKbEnd, f.peakRssKb);
}

}  // namespace

#include "remotefs/HostPaths.h"
#include "remotefs/TransferReport.h"

#include <gtest/gtest.h>

TEST (TransferReport, RateIsInMebibitsPerSecond)
{
    // 1,048,576 bytes in 2 s: 8 MBit of 1,048,576 bits each, over 2 s.
    EXPECT_EQ (formatTransferReport (1048576, 2000),
               "File transfer completed successfully 1048576 bytes in 2.00 seconds - 4.00 MBit/s.");
    EXPECT_EQ (formatTransferReport (123456789012LL, 61234),
               "File transfer completed successfully 123456789012 bytes in 61.23 seconds - 15381.99 MBit/s.");
}

TEST (TransferReport, EmptyAndInstantTransfersGiveFiniteRates)
{
    EXPECT_EQ (formatTransferReport (0, 0),
               "File transfer completed successfully 0 bytes in 0.00 seconds - 0.00 MBit/s.");
    // Under a millisecond the rate is taken over one millisecond instead of dividing by zero.
    EXPECT_EQ (formatTransferReport (131072, 0),
               "File transfer completed successfully 131072 bytes in 0.00 seconds - 1000.00 MBit/s.");
}

TEST (HostPaths, DeviceNamesThatWouldLeaveTheFolderAreRefused)
{
    for (auto name : { "", ".", "..", "a/b", "a\\b", "/", "../etc" })
        EXPECT_FALSE (isSafeEntryName (name)) << name;

    for (auto name : { "a", "...x", ".hidden", "name with spaces", "x..y" })
        EXPECT_TRUE (isSafeEntryName (name)) << name;

    EXPECT_TRUE (isSafeEntryName (juce::String::fromUTF8 ("Gr\xc3\xbc\xc3\x9f" "e")));

   #if JUCE_WINDOWS
    for (auto name : { "C:", "c:x", "NUL", "com1.txt", "LPT9", "a?", "trailing.", "blank " })
        EXPECT_FALSE (isSafeEntryName (name)) << name;
    EXPECT_TRUE (isSafeEntryName ("COM10"));
   #endif
}

TEST (HostPaths, RelativePathsAreTakenFromTheCurrentFolder)
{
    EXPECT_EQ (resolveLocalPath (""), juce::File());
    EXPECT_EQ (resolveLocalPath ("mac.txt"), juce::File::getCurrentWorkingDirectory().getChildFile ("mac.txt"));
    const auto absolute = juce::File::getSpecialLocation (juce::File::tempDirectory).getChildFile ("x.bin");
    EXPECT_EQ (resolveLocalPath (absolute.getFullPathName()), absolute);
}

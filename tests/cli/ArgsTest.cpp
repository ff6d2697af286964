// The host programs' shared command-line reading: option splitting and checked numbers.
#include "host/cli/Args.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

using kw::cli::ArgReader;
using kw::cli::parseInteger;
using kw::cli::parseRate;

namespace {

std::string errorOf(const std::function<void()>& fn)
{
    try {
        fn();
    } catch (const kw::cli::UsageError& e) {
        return e.what();
    }
    return "";
}

}  // namespace

TEST(ArgReader, SplitsInlineValuesAndRefusesMissingOrUnwantedOnes)
{
    const char* argv[] = {"prog", "--a=1", "--b", "2", "-h", "x=y", "--c=", "--d=e=f", "--seed"};
    ArgReader args(9, argv);
    std::vector<std::string> seen;
    while (args.next()) {
        const std::string option = args.option();
        if (option == "--seed")
            seen.push_back(errorOf([&] { args.value(); }));
        else if (option == "-h" || option == "x=y")
            seen.push_back(option);  // only "--" options carry an inline value
        else
            seen.push_back(option + ":" + args.value());
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"--a:1", "--b:2", "-h", "x=y", "--c:", "--d:e=f",
                                              "--seed: missing value"}));

    const char* flags[] = {"prog", "--pty", "--verbose=yes"};
    ArgReader flagArgs(3, flags);
    ASSERT_TRUE(flagArgs.next());
    EXPECT_NO_THROW(flagArgs.noValue());
    ASSERT_TRUE(flagArgs.next());
    EXPECT_EQ(errorOf([&] { flagArgs.noValue(); }), "--verbose: takes no value");
}

TEST(ParseNumbers, TakeWholeNumbersAndProbabilitiesInRangeOnly)
{
    EXPECT_EQ(parseInteger<unsigned>("--id", "255", 0, 255), 255u);
    EXPECT_EQ(parseInteger<uint32_t>("--seed", "4294967295", 0, UINT32_MAX), UINT32_MAX);
    EXPECT_EQ(parseRate("--nak-rate", "0.25"), 0.25);
    EXPECT_EQ(parseRate("--nak-rate", "1"), 1.0);
    for (const char* bad : {"256", "-1", "", "12x", " 1", "+1", "1.0", "99999999999999999999"}) {
        EXPECT_EQ(errorOf([&] { parseInteger<unsigned>("--id", bad, 0, 255); }),
                  std::string("--id: expected a whole number from 0 to 255, got '") + bad + "'");
    }
    for (const char* bad : {"1.5", "-0.1", "", "x", "0.5x", "nan", "inf", "1e999"}) {
        EXPECT_EQ(errorOf([&] { parseRate("--nak-rate", bad); }),
                  std::string("--nak-rate: expected a probability from 0 to 1, got '") + bad + "'");
    }
}

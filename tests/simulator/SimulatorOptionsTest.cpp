// The simulator's command line: defaults, every option, and the error for each bad value.
#include "tools/simulator/Ipv4Address.h"
#include "tools/simulator/SimulatorOptions.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

// Parses "kelvane-sim" followed by args.
bool Parse(std::vector<std::string> args, SimulatorOptions& options, std::string& error) {
    args.insert(args.begin(), "kelvane-sim");
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    return ParseSimulatorOptions(static_cast<int>(args.size()), argv.data(), options, error);
}

} // namespace

TEST(SimulatorOptions, DefaultsWithoutArguments) {
    SimulatorOptions options;
    std::string error;
    ASSERT_TRUE(Parse({}, options, error));
    EXPECT_EQ(options.m_strAddress, "127.0.0.1");
    EXPECT_EQ(options.m_nPort, 5001);
    EXPECT_EQ(options.m_nDioCount, 9);
    EXPECT_EQ(options.m_nMaxClients, 16);
    EXPECT_EQ(options.m_nControlPort, -1); // no control port
    EXPECT_EQ(options.m_nReplyDelayMs, 0);
    EXPECT_EQ(options.m_split, ReplySplit::Whole);
    EXPECT_EQ(options.m_nJunkFrames, 0);
    EXPECT_EQ(options.m_nEndAfterRequests, 0);
    EXPECT_FALSE(options.Floods());
    EXPECT_TRUE(options.m_vecToggleDios.empty());
    EXPECT_FALSE(options.m_bQuiet);
    EXPECT_FALSE(options.m_bHelp);
}

TEST(SimulatorOptions, ReadsEveryOptionInBothForms) {
    SimulatorOptions options;
    std::string error;
    ASSERT_TRUE(
        Parse({"--address",     "0.0.0.0",   "--port=0",         "--dios",      "255",
               "--delay=250",   "--split",   "random",           "--gap=3",     "--seed",
               "4294967295",    "--junk=16", "--reset-after",    "7",           "--flood-seconds=2",
               "--flood-bytes", "1000",      "--toggle=0,4-6,5", "--toggle-ms", "20",
               "--quiet"},
              options, error))
        << error;
    EXPECT_EQ(options.m_strAddress, "0.0.0.0");
    EXPECT_EQ(options.m_nPort, 0);
    EXPECT_EQ(options.m_nDioCount, 255);
    EXPECT_EQ(options.m_nReplyDelayMs, 250);
    EXPECT_EQ(options.m_split, ReplySplit::Random);
    EXPECT_EQ(options.m_nPieceGapMs, 3);
    EXPECT_EQ(options.m_nSeed, 4294967295u);
    EXPECT_EQ(options.m_nJunkFrames, 16);
    EXPECT_EQ(options.m_nEndAfterRequests, 7);
    EXPECT_EQ(options.m_end, ConnectionEnd::Reset);
    EXPECT_EQ(options.m_nFloodSeconds, 2);
    EXPECT_EQ(options.m_nFloodBytes, 1000u);
    EXPECT_EQ(options.m_vecToggleDios, (std::vector<int>{0, 4, 5, 6}));
    EXPECT_EQ(options.m_nToggleMs, 20);
    EXPECT_TRUE(options.m_bQuiet);

    ASSERT_TRUE(Parse({"--max-clients=1024", "--control", "0", "--control-address=0.0.0.0"},
                      options, error))
        << error;
    EXPECT_EQ(options.m_nMaxClients, 1024);
    EXPECT_EQ(options.m_nControlPort, 0);
    EXPECT_EQ(options.m_strControlAddress, "0.0.0.0");

    ASSERT_TRUE(Parse({"--close-after=3", "--split=bytes"}, options, error));
    EXPECT_EQ(options.m_end, ConnectionEnd::Close);
    EXPECT_EQ(options.m_nEndAfterRequests, 3);
    EXPECT_EQ(options.m_split, ReplySplit::Bytes);
}

TEST(SimulatorOptions, EachBadValueHasItsOwnError) {
    struct Case {
        std::vector<std::string> args;
        const char* error;
    };
    const Case cases[] = {
        {{"--address", "localhost"},
         "--address: 'localhost' is not a numeric IPv4 address such as 127.0.0.1"},
        {{"--address=1.2.3.256"},
         "--address: '1.2.3.256' is not a numeric IPv4 address such as 127.0.0.1"},
        {{"--port", "65536"}, "--port: '65536' is not a whole number from 0 to 65535"},
        {{"--port", "-1"}, "--port: '-1' is not a whole number from 0 to 65535"},
        {{"--port=50x"}, "--port: '50x' is not a whole number from 0 to 65535"},
        {{"--port="}, "--port: '' is not a whole number from 0 to 65535"},
        {{"--dios", "0"}, "--dios: '0' is not a whole number from 1 to 255"},
        {{"--dios", "256"}, "--dios: '256' is not a whole number from 1 to 255"},
        {{"--delay", "60001"}, "--delay: '60001' is not a whole number from 0 to 60000"},
        {{"--split", "halves"}, "--split: 'halves' is not whole, bytes or random"},
        {{"--gap", "10001"}, "--gap: '10001' is not a whole number from 0 to 10000"},
        {{"--seed", "4294967296"},
         "--seed: '4294967296' is not a whole number from 0 to 4294967295"},
        {{"--junk", "17"}, "--junk: '17' is not a whole number from 0 to 16"},
        {{"--close-after", "0"}, "--close-after: '0' is not a whole number from 1 to 1000000000"},
        {{"--reset-after", "x"}, "--reset-after: 'x' is not a whole number from 1 to 1000000000"},
        {{"--close-after", "2", "--reset-after", "3"},
         "--close-after and --reset-after cannot be combined"},
        {{"--flood-seconds", "0"}, "--flood-seconds: '0' is not a whole number from 1 to 86400"},
        {{"--toggle", "1,,2"},
         "--toggle: '1,,2' is not a list of DIO numbers such as 3 or 0,2,5 or 1-3"},
        {{"--toggle", "5-3"},
         "--toggle: '5-3' is not a list of DIO numbers such as 3 or 0,2,5 or 1-3"},
        {{"--toggle", "255"},
         "--toggle: '255' is not a list of DIO numbers such as 3 or 0,2,5 or 1-3"},
        {{"--toggle", "9"}, "--toggle: DIO 9 is beyond the last DIO (8)"},
        {{"--toggle", "3", "--dios", "3"}, "--toggle: DIO 3 is beyond the last DIO (2)"},
        {{"--toggle-ms", "0"}, "--toggle-ms: '0' is not a whole number from 1 to 86400000"},
        {{"--port"}, "--port needs a value"},
        {{"--max-clients", "1025"}, "--max-clients: '1025' is not a whole number from 1 to 1024"},
        {{"--control", "65536"}, "--control: '65536' is not a whole number from 0 to 65535"},
        {{"--control-address", "0.0.0.0"}, "--control-address needs --control"},
        {{"--quiet=yes"}, "--quiet takes no value"},
        {{"--help=1"}, "--help takes no value"},
        {{"--verbose"}, "unknown option '--verbose'"},
        {{"--dio=3"}, "unknown option '--dio'"},
        {{"-p", "5001"}, "unknown option '-p'"},
        {{"5001"}, "unexpected argument '5001'"},
    };
    const auto expectError = [](const std::vector<std::string>& args, const std::string& text) {
        SimulatorOptions options;
        options.m_nPort = 1234;
        std::string error;
        EXPECT_FALSE(Parse(args, options, error)) << text;
        EXPECT_EQ(error, text);
        EXPECT_EQ(options.m_nPort, 1234) << "a failed parse leaves the options alone";
    };
    for (const Case& c : cases) {
        expectError(c.args, c.error);
    }
    // A number too big for any integer is out of range, not 0 or the largest value.
    const std::string huge = "99999999999999999999";
    const std::pair<const char*, const char*> ranges[] = {
        {"--port", "0 to 65535"},
        {"--dios", "1 to 255"},
        {"--delay", "0 to 60000"},
        {"--gap", "0 to 10000"},
        {"--seed", "0 to 4294967295"},
        {"--junk", "0 to 16"},
        {"--close-after", "1 to 1000000000"},
        {"--reset-after", "1 to 1000000000"},
        {"--toggle-ms", "1 to 86400000"},
        {"--flood-seconds", "1 to 86400"},
        {"--flood-bytes", "1 to 1000000000000000"}};
    for (const auto& [name, range] : ranges) {
        expectError({name, huge},
                    std::string(name) + ": '" + huge + "' is not a whole number from " + range);
    }
    for (const std::string& list : {huge, "0-" + huge}) {
        expectError({"--toggle", list}, "--toggle: '" + list +
                                            "' is not a list of DIO numbers such as 3 or 0,2,5 "
                                            "or 1-3");
    }
}

TEST(SimulatorOptions, ToggleDiosAreCheckedAgainstTheFinalDioCount) {
    SimulatorOptions options;
    std::string error;
    EXPECT_TRUE(Parse({"--toggle", "12", "--dios", "13"}, options, error)) << error;
    EXPECT_EQ(options.m_vecToggleDios, (std::vector<int>{12}));
}

TEST(SimulatorOptions, HelpStopsParsingAndListsEveryOptionAndStatus) {
    for (const char* help : {"--help", "-h"}) {
        SimulatorOptions options;
        std::string error;
        EXPECT_TRUE(Parse({help, "--port", "nonsense"}, options, error)) << help;
        EXPECT_TRUE(options.m_bHelp);
    }
    const std::string text = SimulatorHelpText();
    for (const char* option :
         {"--address", "--port", "--dios", "--delay", "--split", "--gap", "--seed", "--junk",
          "--close-after", "--reset-after", "--flood-seconds", "--flood-bytes", "--toggle ",
          "--toggle-ms", "--quiet", "--help"}) {
        EXPECT_NE(text.find(option), std::string::npos) << option;
    }
    for (const char* status :
         {"02  unknown code", "03  bad fixed bytes", "04  wrong payload length",
          "05  range start above end", "06  DIO out of range", "07  range too long",
          "08  mode or state not 0 or 1"}) {
        EXPECT_NE(text.find(status), std::string::npos) << status;
    }
}

TEST(SimulatorIpv4Address, AcceptsOnlyFourDecimalBytes) {
    std::uint32_t address = 0;
    EXPECT_TRUE(ParseIpv4Address("127.0.0.1", address));
    EXPECT_EQ(address, 0x7F000001u);
    EXPECT_TRUE(ParseIpv4Address("255.255.255.255", address));
    EXPECT_EQ(address, 0xFFFFFFFFu);
    EXPECT_TRUE(ParseIpv4Address("010.0.0.1", address)); // decimal, not octal
    EXPECT_EQ(address, 0x0A000001u);
    for (const char* bad : {"", "1.2.3", "1.2.3.4.5", "1.2.3.", ".1.2.3", "1..2.3", "256.0.0.1",
                            "1.2.3.4 ", " 1.2.3.4", "1.2.3.0004", "1.2.3.x", "::1", "1.2.3.-4"}) {
        EXPECT_FALSE(ParseIpv4Address(bad, address)) << bad;
    }
    EXPECT_EQ(FormatIpv4Address(0xC0A80A01u), "192.168.10.1");
}

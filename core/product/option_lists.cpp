#include "core/product/option_lists.h"

namespace {

// The texts are what the module's users have always seen on these lists, odd spacing
// included; the values are the register codes the module stores.
constexpr OptionItem t1PowerItems[] = {
    {" +1 dB", 0}, {" +2 dB", 1}, {" +5 dB", 2}, {" +8 dB", 3},
    {"+11 dB", 4}, {"+14 dB", 5}, {"+17 dB", 6}, {"+20 dB", 7},
};
constexpr OptionItem t2PowerItems[] = {
    {" +18 dB", 0}, {" +20 dB", 1}, {" +21 dB", 2}, {" +23 dB", 3}, {"+25 dB", 4}, {"+30 dB", 5},
};
constexpr OptionItem m5PowerItems[] = {
    {" -5 dB", 0},
    {"  0 dB", 1},
    {" +5 dB", 2},
    {"+10 dB", 3},
};
constexpr OptionItem k8PowerItems[] = {
    {" -6 dB", 0},
    {" -4 dB", 1},
    {" -2 dB", 2},
    {"  0 dB", 3},
};
constexpr OptionItem r3PowerItems[] = {
    {" +1 dB", 0}, {" +2 dB", 1}, {" +5 dB", 2}, {" +8 dB", 3},
    {"+10 dB", 4}, {"+15 dB", 5}, {"+18 dB", 6}, {"+21 dB", 7},
};

constexpr OptionItem fourModeSleepItems[] = {
    {" OFF ", 0},
    {" Sleep Mode1 ", 1},
    {" Sleep Mode2 ", 2},
    {" Sleep Mode3 ", 3},
};
constexpr OptionItem oneModeSleepItems[] = {
    {" OFF ", 0},
    {" Sleep Mode1 ", 1},
};
constexpr OptionItem noSleepItems[] = {
    {" OFF ", 0},
};

constexpr OptionItem standardRateItems[] = {
    {"1200 bps", 0},  {"2400 bps", 1},  {"4800 bps", 2},  {"9600 bps", 3},
    {"19.2 kbps", 4}, {"38.4 kbps", 5}, {"57.6 kbps", 6}, {"115.2kbps", 7},
};
// The narrow-band radios offer no rate under code 11; their two narrow-band rates keep the
// codes 12 and 13, so the list has a gap rather than renumbered items.
constexpr OptionItem narrowBandRateItems[] = {
    {"1200 bps", 0},         {"2400 bps", 1},     {"4800 bps", 2},       {"9600 bps", 3},
    {"19.2 kbps", 4},        {"38.4 kbps", 5},    {"57.6 kbps", 6},      {"115.2kbps", 7},
    {"4.8kbps-DSSS", 8},     {"9.6kbps-DSSS", 9}, {"19.2kbps-DSSS", 10}, {"4.8kbps-NB", 12},
    {"9.6kbps-NB(MSK)", 13},
};
constexpr OptionItem fastDsssRateItems[] = {
    {"1200 bps", 0},      {"2400 bps", 1},      {"4800 bps", 2},       {"9600 bps", 3},
    {"19.2 kbps", 4},     {"38.4 kbps", 5},     {"57.6 kbps", 6},      {"115.2kbps", 7},
    {"4.8kbps-DSSS", 8},  {"9.6kbps-DSSS", 9},  {"19.2kbps-DSSS", 10}, {"38.4kbps-DSSS", 11},
    {"100kbps-DSSS", 12}, {"200kbps-DSSS", 13},
};
constexpr OptionItem loraRateItems[] = {
    {"448 bps", 0},  {"1098 bps", 1}, {"1464 bps", 2},  {"2604 bps", 3},
    {"4557 bps", 4}, {"9375 bps", 5}, {"15625 bps", 6}, {"18750 bps", 7},
};

// The lists whose items never change; the panel file offers the same items.
constexpr OptionItem flowControlItems[] = {{"None", 0}, {"Xon/Xoff", 1}};
constexpr OptionItem timeoutItems[] = {
    {"3 Bytes ", 3},  {"5 Bytes ", 5},  {"8 Bytes", 8},   {"10 Bytes ", 10},
    {"15 Bytes", 15}, {"30 Bytes", 30}, {"50 Bytes", 50},
};
constexpr OptionItem serialRateItems[] = {
    {"300bps", 9},  {"600bps", 10},  {"1200bps", 0},  {"2400bps", 1},  {"4800bps", 2},
    {"9600bps", 3}, {"19.2kbps", 4}, {"38.4kbps", 5}, {"57.6kbps", 6}, {"115.2kbps", 7},
};
constexpr OptionItem serialFormatItems[] = {
    {"8N1", 0}, {"8O1", 1}, {"8E1", 2}, {"8N2", 3}, {"7N1", 4}, {"7O1", 5}, {"7E1", 6}, {"7N2", 7},
};
constexpr OptionItem modulationItems[] = {{"FSK mdoe", 0}, {"LORA mode", 1}};
constexpr OptionItem workingModeItems[] = {
    {"Transparent Mode", 0},
    {"Transparent Secured Mode", 1},
    {"Address Mode", 2},
    {"Address Secured Mode", 3},
    {"Linkage Range Test Mode", 10},
    {"Unmodulated Carrier Wave", 21},
    {"PN9 byte Sequence Stream", 22},
    {"101010 sequence Stream", 23},
};
constexpr OptionItem addressControlItems[] = {
    {"No address at the header", 0},
    {"Attach Address  when Tx ", 1},
    {"Echo the Sender's Address ", 2},
    {"Address for Both ", 3},
};
constexpr OptionItem yesNoItems[] = {{"No", 0}, {"Yes", 1}};

template <std::size_t N>
constexpr OptionList MakeList(const OptionItem (&items)[N], uint8_t selected,
                              uint8_t linkBuffer = 0) {
    return OptionList{items, N, selected, linkBuffer};
}

}  // namespace

const OptionList t1PowerList = MakeList(t1PowerItems, 7);
const OptionList t2PowerList = MakeList(t2PowerItems, 5);
const OptionList m5PowerList = MakeList(m5PowerItems, 3);
const OptionList k8PowerList = MakeList(k8PowerItems, 3);
const OptionList r3PowerList = MakeList(r3PowerItems, 7);

const OptionList fourModeSleepList = MakeList(fourModeSleepItems, 0);
const OptionList oneModeSleepList = MakeList(oneModeSleepItems, 0);
const OptionList noSleepList = MakeList(noSleepItems, 0);

// The DSSS rates of the T series run with the large serial link buffer, the plain FSK and
// the LoRa rates with the small one.
const OptionList standardRateList = MakeList(standardRateItems, 3, 50);
const OptionList narrowBandRateList = MakeList(narrowBandRateItems, 9, 200);
const OptionList fastDsssRateList = MakeList(fastDsssRateItems, 9, 200);
const OptionList loraRateList = MakeList(loraRateItems, 1, 50);

const OptionList flowControlList = MakeList(flowControlItems, 0);
const OptionList timeoutList = MakeList(timeoutItems, 5);
const OptionList serialRateList = MakeList(serialRateItems, 3);
const OptionList serialFormatList = MakeList(serialFormatItems, 0);
const OptionList modulationList = MakeList(modulationItems, 0);
const OptionList workingModeList = MakeList(workingModeItems, 0);
const OptionList addressControlList = MakeList(addressControlItems, 0);
const OptionList yesNoList = MakeList(yesNoItems, 0);

#include "SkinTables.h"

namespace skin {

// Playback rows first, then record rows, then the ASIO and remote-control rows.
const SkinButtonDef kSkinButtons[kSkinButtonCount] = {
    {"BTN_HIDE", 1, {270, 5, 22, 22}, "Hide", 0},

    {"BTN_P_32K", 1, {16, 57, 63, 14}, "32KHz", 1},
    {"BTN_P_44K", 1, {16, 82, 63, 14}, "44.1KHz", 1},
    {"BTN_P_48K", 1, {16, 106, 63, 14}, "48KHz", 1},
    {"BTN_P_88K", 1, {16, 131, 63, 14}, "88.2KHz", 1},
    {"BTN_P_96K", 1, {16, 155, 63, 14}, "96KHz", 1},
    {"BTN_P_176K", 1, {8, 180, 71, 14}, "176.4KHz", 1},
    {"BTN_P_192K", 1, {8, 205, 71, 14}, "192KHz", 1},
    {"BTN_P_352K", 1, {8, 229, 71, 14}, "352.8KHz", 1},
    {"BTN_P_384K", 1, {8, 254, 71, 14}, "384KHz", 1},
    {"BTN_P_16B", 1, {84, 53, 65, 25}, "16 bits", 1},
    {"BTN_P_24B", 1, {84, 84, 65, 25}, "24 bits", 1},
    {"BTN_P_32B", 1, {84, 113, 65, 25}, "32 bits", 1},
    {"BTN_P_MUTE", 1, {92, 172, 48, 48}, "Mute", 1},
    {"BTN_P_VOL_GANG", 1, {92, 222, 48, 48}, "Volume Gang", 1},

    {"BTN_R_32K", 1, {161, 57, 63, 14}, "32KHz", 1},
    {"BTN_R_44K", 1, {161, 82, 63, 14}, "44.1KHz", 1},
    {"BTN_R_48K", 1, {161, 106, 63, 14}, "48KHz", 1},
    {"BTN_R_88K", 1, {161, 131, 63, 14}, "88.2KHz", 1},
    {"BTN_R_96K", 1, {161, 155, 63, 14}, "96KHz", 1},
    {"BTN_R_176K", 1, {153, 180, 71, 14}, "176.4KHz", 1},
    {"BTN_R_192K", 1, {153, 204, 71, 14}, "192KHz", 1},
    {"BTN_R_352K", 1, {153, 229, 71, 14}, "352.8KHz", 1},
    {"BTN_R_384K", 1, {153, 254, 71, 14}, "384KHz", 1},
    {"BTN_R_16B", 1, {228, 53, 65, 25}, "16 bits", 1},
    {"BTN_R_24B", 1, {228, 84, 65, 25}, "24 bits", 1},
    {"BTN_R_32B", 1, {228, 113, 65, 25}, "32 bits", 1},
    {"BTN_R_MUTE", 1, {233, 172, 48, 48}, "Mute", 1},
    {"BTN_R_VOL_GANG", 1, {233, 222, 48, 48}, "Volume Gang", 1},

    {"BTN_ASIO_16B", 1, {120, 435, 46, 16}, "16 bits", 1},
    {"BTN_ASIO_24B", 1, {177, 435, 46, 16}, "24 bits", 1},
    {"BTN_ASIO_32B", 1, {236, 435, 46, 16}, "32 bits", 1},
    {"BTN_ASIO_BFSZ_3MS", 1, {129, 459, 30, 14}, "3 ms", 1},
    {"BTN_ASIO_BFSZ_5MS", 1, {187, 459, 30, 14}, "5 ms", 1},
    {"BTN_ASIO_BFSZ_7MS", 1, {243, 459, 30, 14}, "7 ms", 1},
    {"BTN_ASIO_BFSZ_10MS", 1, {122, 478, 36, 14}, "10 ms", 1},
    {"BTN_ASIO_BFSZ_15MS", 1, {180, 478, 36, 14}, "15 ms", 1},
    {"BTN_ASIO_BFSZ_20MS", 1, {236, 478, 37, 14}, "20 ms", 1},
    {"BTN_ASIO_BFSZ_30MS", 1, {122, 497, 36, 14}, "30 ms", 1},
    {"BTN_ASIO_BFSZ_50MS", 1, {180, 497, 36, 14}, "50 ms", 1},
    {"BTN_ASIO_BFSZ_100MS", 1, {230, 497, 43, 14}, "100 ms", 1},

    {"BTN_RMCT_NETWORK_SET", 1, {194, 559, 98, 16}, "Network Setting", 1},
    {"BTN_RMCT_START_SVR", 1, {194, 589, 98, 16}, "Start Server", 1},
};

namespace {
constexpr uint32_t kBlueState = 0x00EF3D10;
constexpr uint32_t kRed = 0x000000FF;
constexpr uint32_t kBlue = 0x00FF0000;
}  // namespace

// All labels: Arial, bold, italic.
const SkinLabelDef kSkinLabels[kSkinLabelCount] = {
    {"TXT_ASIOSTATE", 1, "Arial", 1, 0, -12, kBlueState, {188, 406, 84, 20}, "Stop", ""},
    {"TXT_ASIODEVICE", 1, "Arial", 1, 0, -12, kRed, {26, 406, 124, 20}, "Not Available", ""},
    {"TXT_ASIOSTATUS", 1, "Arial", 1, 0, -12, kRed, {12, 523, 274, 20}, "Not Available", ""},
    {"TXT_ASIOPCM", 1, "Arial", 1, 0, -18, kRed, {12, 486, 80, 24}, "PCM", ""},
    {"TXT_ASIODSD", 1, "Arial", 1, 0, -18, kBlue, {12, 486, 80, 24}, "DSD", ""},
    {"TXT_ASIODSD128", 1, "Arial", 1, 0, -18, kBlue, {12, 486, 80, 24}, "DSD128", ""},
    {"TXT_ASIODSD256", 1, "Arial", 1, 0, -18, kBlue, {12, 486, 80, 24}, "DSD256", ""},
    {"TXT_LOCAL_IP", 1, "Arial", 1, 0, -12, kBlue, {94, 559, 90, 16}, "Not Available", ""},
    {"TXT_REMOTE_IP", 1, "Arial", 1, 0, -12, kBlue, {94, 591, 90, 16}, "Not Available", ""},
    {"TXT_CPL_LOAD", 1, "Arial", 1, 0, -16, kRed, {12, 616, 80, 20}, "Loading...", ""},
};

// Page mask 0: a page reset hides the sliders until the owner shows them by name.
const SkinSliderDef kSkinSliders[kSkinSliderCount] = {
    {"SLDR_P_VOL_L", 0, 136, 137, 138, {12, 284, 132, 18}, 1, 50},
    {"SLDR_P_VOL_R", 0, 136, 137, 138, {12, 308, 132, 18}, 1, 50},
    {"SLDR_R_VOL_L", 0, 136, 137, 138, {156, 284, 132, 18}, 1, 50},
    {"SLDR_R_VOL_R", 0, 136, 137, 138, {156, 308, 132, 18}, 1, 50},
};

}  // namespace skin

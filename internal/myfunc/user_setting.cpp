#include "user_setting.h"

#include <stdio.h>
#include <string.h>

#include <atomic>

#include "file_util.h"

ST_GLOBAL_SETTING g_stUserSet;
ST_USR_SETTING_SAVE stUserSetSave;
const ST_USR_SETTING_SAVE tUserSetDef = {
    USER_PARA_CHECK_ID, {0, 0}, {1, 2}, USER_DEFAULT_VI_MODE, 2, 0, 0,
};
ST_USER_SETTING stUser;
uint8_t g_SrcFrameRatePrev;
uint8_t g_DstFrameRatePrev;

// ---------------------------------------------------------------------------
// Bit fields of g_stUserSet

namespace {

uint8_t* user_set_byte(uint8_t off) {
    return reinterpret_cast<uint8_t*>(&g_stUserSet) + off;
}

uint8_t field_mask(UserSetBits f) {
    return static_cast<uint8_t>(((1u << f.ucWidth) - 1u) << f.ucShift);
}

}  // namespace

uint8_t UserSetGet(UserSetBits f) {
    uint8_t b = std::atomic_ref<uint8_t>(*user_set_byte(f.ucByte)).load(std::memory_order_acquire);
    return static_cast<uint8_t>((b & field_mask(f)) >> f.ucShift);
}

uint8_t UserSetPut(UserSetBits f, uint8_t v) {
    std::atomic_ref<uint8_t> byte(*user_set_byte(f.ucByte));
    const uint8_t mask = field_mask(f);
    const uint8_t bits = static_cast<uint8_t>((v << f.ucShift) & mask);
    uint8_t old = byte.load(std::memory_order_relaxed);
    while (!byte.compare_exchange_weak(old, static_cast<uint8_t>((old & ~mask) | bits),
                                       std::memory_order_acq_rel, std::memory_order_relaxed)) {
    }
    return static_cast<uint8_t>((old & mask) >> f.ucShift);
}

void UserSetSnapshot(ST_GLOBAL_SETTING* pOut) {
    ST_GLOBAL_SETTING& s = g_stUserSet;
    // Field by field so that a word is never torn; padding stays zero.
    memset(pOut, 0, sizeof(*pOut));
    pOut->usChipId = std::atomic_ref<uint16_t>(s.usChipId).load(std::memory_order_relaxed);
    pOut->ucVersion = std::atomic_ref<uint8_t>(s.ucVersion).load(std::memory_order_relaxed);
    pOut->usRecTimeCnt = std::atomic_ref<uint16_t>(s.usRecTimeCnt).load(std::memory_order_relaxed);
    pOut->usTotalSize = std::atomic_ref<uint32_t>(s.usTotalSize).load(std::memory_order_relaxed);
    pOut->usFreeSize = std::atomic_ref<uint32_t>(s.usFreeSize).load(std::memory_order_relaxed);
    uint8_t* out = reinterpret_cast<uint8_t*>(pOut);
    for (uint8_t off = offsetof(ST_GLOBAL_SETTING, ucRcMode); off < sizeof(ST_GLOBAL_SETTING); ++off)
        out[off] = std::atomic_ref<uint8_t>(*user_set_byte(off)).load(std::memory_order_acquire);
}

// ---------------------------------------------------------------------------
// Saved settings

void UserParaInitAt(const char* pPath) {
    ST_USR_SETTING_SAVE loaded;
    memset(&loaded, 0, sizeof(loaded));
    size_t got = 0;
    ReadFileEx(pPath, &loaded, sizeof(loaded), &got);
    // A short file would leave part of the record undefined: treat as invalid.
    if (got == sizeof(loaded) && loaded.usCheckId == USER_PARA_CHECK_ID)
        stUserSetSave = loaded;
    else
        stUserSetSave = tUserSetDef;
    if (!IsKnownInputMode(stUserSetSave.ucRecReso)) {
        // An unknown mode would give frame rate 0 to the encoder and muxer.
        printf("[UserParaInit]ucRecReso %d unknown, using %d\r\n", stUserSetSave.ucRecReso,
               USER_DEFAULT_VI_MODE);
        stUserSetSave.ucRecReso = USER_DEFAULT_VI_MODE;
    }
    printf("[UserParaInit]usCheckId = %x\r\n", stUserSetSave.usCheckId);
    printf("[UserParaInit]ucBitRate[0] = %d\r\n", stUserSetSave.ucBitRate[0]);
    printf("[UserParaInit]ucBitRate[1] = %d\r\n", stUserSetSave.ucBitRate[1]);
    printf("[UserParaInit]ucRecReso = %d\r\n", stUserSetSave.ucRecReso);
    printf("[UserParaInit]bSdCardSel = %d\r\n", stUserSetSave.bSdCardSel);
    printf("[UserParaInit]ucProfile = %d\r\n", stUserSetSave.ucProfile);
}

void UserParaInit(void) { UserParaInitAt(USER_PARA_FILE); }

int UserParaSaveAt(const char* pPath) {
    return WriteFile(pPath, &stUserSetSave, sizeof(stUserSetSave));
}

int UserParaSave(void) { return UserParaSaveAt(USER_PARA_FILE); }

int UserParaResetAt(const char* pPath) {
    stUserSetSave = tUserSetDef;
    return UserParaSaveAt(pPath);
}

int UserParaReset(void) { return UserParaResetAt(USER_PARA_FILE); }

// Start-up: the live settings from the saved ones.
void StartupLoadSettings(const char* pPath) {
    UserParaInitAt(pPath);

    // Saved rate-control modes and rotation are not taken over: the live
    // ones start at 0.
    UserSetPut(UsrBits::RecReso, stUserSetSave.ucRecReso);
    SetFrameRatePara(stUserSetSave.ucRecReso);
    g_stUserSet.ucBitRate[0] = stUserSetSave.ucBitRate[0];
    g_stUserSet.ucBitRate[1] = stUserSetSave.ucBitRate[1];
    UserSetPut(UsrBits::SdCardSel, stUserSetSave.bSdCardSel);
    UserSetPut(UsrBits::Profile, stUserSetSave.ucProfile);

    g_SrcFrameRatePrev = stUser.ucSrcFrameRate;
    g_DstFrameRatePrev = stUser.ucDstFrameRate;
}

// ---------------------------------------------------------------------------
// Input mode

namespace {

struct ModeEntry {
    uint8_t code, timing, fps;
};
constexpr ModeEntry kModes[] = {
    {1, 3, 50},  {2, 1, 25},  {3, 16, 30}, {5, 18, 24},  {6, 1, 50},   {7, 4, 60},
    {9, 4, 60},  {10, 2, 30}, {11, 3, 50}, {12, 2, 24},  {13, 17, 25}, {14, 2, 60},
};

const ModeEntry* find_mode(uint8_t code) {
    for (const ModeEntry& m : kModes)
        if (m.code == code) return &m;
    return nullptr;
}

}  // namespace

int IsKnownInputMode(uint8_t code) { return find_mode(code) != nullptr; }

void SetFrameRatePara(uint8_t code) {
    stUser.enViMode = code;
    const ModeEntry* m = find_mode(code);
    if (!m && stUser.ucSrcFrameRate == 0) {
        m = find_mode(USER_DEFAULT_VI_MODE);
        stUser.enViMode = USER_DEFAULT_VI_MODE;
    }
    if (m) {
        stUser.ucOutTiming = m->timing;
        stUser.ucSrcFrameRate = m->fps;
    }
    stUser.ucDstFrameRate = stUser.ucSrcFrameRate;
}

void DebugInfo(void) {
    printf("-----------------user info-------------------\n");
    switch (stUser.enViMode) {
    case 1:
    case 11: printf("--%x SAMPLE_VI_1080P50\n", stUser.enViMode); break;
    case 3: printf("--%x SAMPLE_VI_1080P30\n", stUser.enViMode); break;
    case 5: printf("--%x SAMPLE_VI_1080P24\n", stUser.enViMode); break;
    case 7:
    case 9: printf("--%x SAMPLE_VI_1080P60\n", stUser.enViMode); break;
    case 13: printf("--%x SAMPLE_VI_1080P25\n", stUser.enViMode); break;
    default: printf("--%d enViMode Value Fail\n", stUser.enViMode); break;
    }
    printf("--stUser.ucSrcFrameRate = %d\n", stUser.ucSrcFrameRate);
    printf("--stUser.ucDstFrameRate = %d\n", stUser.ucDstFrameRate);
    printf("------------------------------------\n");
}

#pragma once
// Process-wide settings of the recorder: the live settings and status record
// g_stUserSet (also the heartbeat payload), the saved settings stUserSetSave
// and their file, and the video input mode stUser derived from the mode code.

#include <stddef.h>
#include <stdint.h>

#include "err_code.h"

// Live settings and status. 24 bytes, little-endian, sent whole as the
// heartbeat payload, so the layout is fixed; the padding (bytes 3, 6, 7) is
// never written and stays zero.
struct ST_GLOBAL_SETTING {
    uint16_t usChipId;      // 0-1
    uint8_t ucVersion;      // 2
    uint16_t usRecTimeCnt;  // 4-5
    uint32_t usTotalSize;   // 8-11  selected storage, MB
    uint32_t usFreeSize;    // 12-15 selected storage, MB
    uint8_t ucRcMode[2];    // 16-17 per encoder stream (0 record, 1 live)
    uint8_t ucBitRate[2];   // 18-19 bit-rate index per encoder stream
    // byte 20
    uint8_t ucUpdataFlag : 1;
    uint8_t ucSaveOnOff : 1;
    uint8_t ucSaveflag : 1;
    uint8_t ucRecStatus : 2;  // 0 idle, 1 recording, 2 paused, 3 closing
    uint8_t ucSavePause : 1;
    uint8_t ucSaveStop : 1;
    uint8_t ucInputState : 1;
    // byte 21
    uint8_t ucBitstream : 1;
    uint8_t ucSavestream : 1;
    uint8_t ucRtmpOnOff : 1;
    uint8_t bSdCardSel : 2;
    uint8_t bSdCardStatus : 2;  // 2 when the selected storage is open
    uint8_t bSdCardDouble : 1;
    // byte 22
    uint8_t ucRecReso : 4;  // input-mode code
    uint8_t ucProfile : 2;
    uint8_t ucRotate : 2;
    // byte 23
    uint8_t ucRtmpIndex : 3;
    uint8_t ucNetWorkStatus : 1;
    uint8_t : 4;
};
static_assert(sizeof(ST_GLOBAL_SETTING) == 24, "heartbeat payload is 24 bytes");
static_assert(offsetof(ST_GLOBAL_SETTING, usRecTimeCnt) == 4);
static_assert(offsetof(ST_GLOBAL_SETTING, usTotalSize) == 8);
static_assert(offsetof(ST_GLOBAL_SETTING, usFreeSize) == 12);
static_assert(offsetof(ST_GLOBAL_SETTING, ucRcMode) == 16);
static_assert(offsetof(ST_GLOBAL_SETTING, ucBitRate) == 18);

// Saved settings: the exact 8 bytes of the settings file, little-endian.
struct ST_USR_SETTING_SAVE {
    uint16_t usCheckId;  // USER_PARA_CHECK_ID when valid
    uint8_t ucRcMode[2];
    uint8_t ucBitRate[2];
    uint8_t ucRecReso : 4;
    uint8_t ucProfile : 2;
    uint8_t ucRotate : 2;
    uint8_t bSdCardSel : 2;
    uint8_t : 6;
};
static_assert(sizeof(ST_USR_SETTING_SAVE) == 8, "settings file is 8 bytes");

// Video input mode derived from the mode code by SetFrameRatePara.
struct ST_USER_SETTING {
    uint8_t enViMode;        // input-mode code
    uint8_t ucOutTiming;     // display output timing code
    uint8_t ucSrcFrameRate;  // fps
    uint8_t ucDstFrameRate;  // fps, always equal to ucSrcFrameRate
    uint8_t ucVbrLevel;      // unused, stays 0
};
static_assert(sizeof(ST_USER_SETTING) == 5);

#define USER_PARA_FILE "/customer/app/userpara"
#define USER_PARA_CHECK_ID 0xA55A
// The input mode used when the saved one is not a known code (1080p30).
#define USER_DEFAULT_VI_MODE 3

extern ST_GLOBAL_SETTING g_stUserSet;
extern ST_USR_SETTING_SAVE stUserSetSave;
extern const ST_USR_SETTING_SAVE tUserSetDef;  // 5A A5 00 00 01 02 23 00
extern ST_USER_SETTING stUser;
// Frame rates the pipeline is currently bound with (for unbinding).
extern uint8_t g_SrcFrameRatePrev;
extern uint8_t g_DstFrameRatePrev;

// ---------------------------------------------------------------------------
// Thread-safe access to the bit fields of g_stUserSet.
//
// Several threads change different bit fields that share one byte (e.g. the
// command handler sets ucSaveOnOff while the stream thread sets
// ucInputState). A plain bit-field store is a read-modify-write of the whole
// byte and can undo a concurrent change of a neighbour. Every writer of a
// bit field of g_stUserSet therefore uses UserSetPut(), which updates only
// that field with an atomic compare-and-swap on its byte; readers on other
// threads use UserSetGet(). Example:
//     UserSetPut(UsrBits::SaveOnOff, 1);
//     if (UserSetGet(UsrBits::RecStatus) == 1) ...
// Whole-byte and word fields (ucBitRate[], usTotalSize, ...) each have one
// writer and need no helper; the heartbeat copies the record with
// UserSetSnapshot().
// ---------------------------------------------------------------------------
struct UserSetBits {
    uint8_t ucByte;   // byte offset in ST_GLOBAL_SETTING
    uint8_t ucShift;  // lowest bit of the field in that byte
    uint8_t ucWidth;  // bits
};
namespace UsrBits {
inline constexpr UserSetBits UpdataFlag{20, 0, 1};
inline constexpr UserSetBits SaveOnOff{20, 1, 1};
inline constexpr UserSetBits Saveflag{20, 2, 1};
inline constexpr UserSetBits RecStatus{20, 3, 2};
inline constexpr UserSetBits SavePause{20, 5, 1};
inline constexpr UserSetBits SaveStop{20, 6, 1};
inline constexpr UserSetBits InputState{20, 7, 1};
inline constexpr UserSetBits Bitstream{21, 0, 1};
inline constexpr UserSetBits Savestream{21, 1, 1};
inline constexpr UserSetBits RtmpOnOff{21, 2, 1};
inline constexpr UserSetBits SdCardSel{21, 3, 2};
inline constexpr UserSetBits SdCardStatus{21, 5, 2};
inline constexpr UserSetBits SdCardDouble{21, 7, 1};
inline constexpr UserSetBits RecReso{22, 0, 4};
inline constexpr UserSetBits Profile{22, 4, 2};
inline constexpr UserSetBits Rotate{22, 6, 2};
inline constexpr UserSetBits RtmpIndex{23, 0, 3};
inline constexpr UserSetBits NetWorkStatus{23, 3, 1};
}  // namespace UsrBits

// Current value of one bit field of g_stUserSet (atomic load of its byte).
uint8_t UserSetGet(UserSetBits f);
// Set one bit field of g_stUserSet to v (cut to the field's width) without
// disturbing the other fields of the byte; returns the previous value.
uint8_t UserSetPut(UserSetBits f, uint8_t v);
// Copy g_stUserSet field by field with atomic loads (for the heartbeat).
void UserSetSnapshot(ST_GLOBAL_SETTING* pOut);

// ---------------------------------------------------------------------------
// Saved settings
// ---------------------------------------------------------------------------
// Load stUserSetSave from USER_PARA_FILE. A missing, short (< 8 bytes) or
// invalid file gives tUserSetDef; a saved input mode that is not a known code
// is replaced by USER_DEFAULT_VI_MODE. The file itself is never rewritten here.
void UserParaInit(void);
void UserParaInitAt(const char* pPath);
// Write the 8 bytes of stUserSetSave to the file; returns WriteFile's result.
int UserParaSave(void);
int UserParaSaveAt(const char* pPath);
// stUserSetSave = tUserSetDef, then save.
int UserParaReset(void);
int UserParaResetAt(const char* pPath);

// Start-up: UserParaInitAt(pPath), then the live settings (g_stUserSet), the
// input mode (stUser) and the bound frame rates from the saved settings.
// Saved rate-control modes and rotation are not taken over.
void StartupLoadSettings(const char* pPath);

// 1 when code is an input-mode code of the table (1-3, 5-7, 9-14).
int IsKnownInputMode(uint8_t code);
// stUser from an input-mode code. An unknown code keeps the previous timing
// and frame rates; when there are none yet (rate 0) it takes those of
// USER_DEFAULT_VI_MODE, so the frame rate is never left at 0.
void SetFrameRatePara(uint8_t code);
// SetInputReso(code), the run-time input change, belongs beside the pipeline
// rebuild it drives: SetChangeStart(1); SetFrameRatePara(code & 0xFF);
// DoChangeInputReso(); SetChangeStart(0). It changes neither g_stUserSet nor
// the saved settings (the command handler does).
// Print the user video mode.
void DebugInfo(void);

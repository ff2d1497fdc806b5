#include "proto_cmd.h"

#include <stdio.h>
#include <string.h>
#include <sys/time.h>
#include <time.h>

#include "err_code.h"
#include "file_util.h"
#include "mp4_record.h"
#include "net_config.h"
#include "rtmp_publish.h"
#include "st_pipeline.h"
#include "uart_proto.h"
#include "usb_detect.h"
#include "user_setting.h"

const stDevNameTbl_T stDevNameTbl = {2, {{0xE0, "EnCoder"}, {0xFF, "EnCoder"}}};
u8 g_FristInitMacFlag = 0;

namespace {

const char *g_userParaPath = nullptr;  // nullptr: the system's own file

int save_user_para() { return g_userParaPath ? UserParaSaveAt(g_userParaPath) : UserParaSave(); }
int reset_user_para() { return g_userParaPath ? UserParaResetAt(g_userParaPath) : UserParaReset(); }

// A size in MB as u16 LE; larger sizes read as 65535 MB, never wrapped.
void put_mb(u8 *p, u32 v) {
    if (v > 0xFFFF) v = 0xFFFF;
    p[0] = (u8)v;
    p[1] = (u8)(v >> 8);
}

bool bcd_in(u8 x, int lo, int hi) { return (x >> 4) <= 9 && (x & 15) <= 9 && HexToDec(x) >= lo && HexToDec(x) <= hi; }

// Payload bytes each command reads; a shorter request is refused unchanged.
int needed(u8 cmd) {
    switch (cmd) {
    case 14: case 48: case 49: case 50: case 102: case 107: case 114: return 2;
    case 25: case 79: case 96: case 99: case 100: case 101: case 106: return 1;
    case 34: return 27;
    case 35: return 4;
    case 84: return 7;
    case 103: return (int)sizeof(ST_RTMP_URL);
    default: return 0;
    }
}

bool known(u8 cmd) {
    switch (cmd) {
    case 5: case 11: case 14: case 25: case 32: case 33: case 34: case 35: case 36: case 37: case 48: case 49:
    case 50: case 51: case 79: case 80: case 81: case 82: case 83: case 84: case 96: case 97: case 98: case 99:
    case 100: case 101: case 102: case 103: case 106: case 107: case 112: case 113: case 114: case 120:
    case 187: case 255:
        return true;
    default:
        return false;
    }
}

u16 rtmp_switch(const u8 *p) {
    u8 b0 = p[0], b1 = p[1];
    if (b0 >= 2) return RangeErr;
    int r = 0;
    UserSetPut(UsrBits::RtmpOnOff, b0 & 1);
    if (b0 & 1) r = b1 < RTMP_URL_COUNT ? ReadRtmpUrl(b1) : RangeErr;
    if (r != 0) {
        // Refused: publishing stops as at an "off", not only in the status.
        UserSetPut(UsrBits::RtmpOnOff, 0);
        RtmpCloseState();
    } else if (b0 & 1) {
        RtmpOpenState();
    } else {
        RtmpCloseState();
    }
    return (u16)r;
}

}  // namespace

void ProtoSetUserParaPath(const char *path) { g_userParaPath = path; }

u8 HexToDec(u8 x) { return (u8)((x >> 4) * 10 + (x & 15)); }

time_t BcdToTime(const u8 *p) {
    struct tm t;
    memset(&t, 0, sizeof t);
    t.tm_year = HexToDec(p[0]) + 100;
    t.tm_mon = HexToDec(p[1]) - 1;
    t.tm_mday = HexToDec(p[2]);
    t.tm_hour = HexToDec(p[4]);
    t.tm_min = HexToDec(p[5]);
    t.tm_sec = HexToDec(p[6]);
    t.tm_isdst = 0;
    return mktime(&t);
}

int SetSystemTime(const u8 *p) {
    printf("%x %x %x - %x %x %x\n", p[0], p[1], p[2], p[4], p[5], p[6]);
    // A digit that is not BCD, or a field out of its range, leaves the clock.
    if (!bcd_in(p[0], 0, 99) || !bcd_in(p[1], 1, 12) || !bcd_in(p[2], 1, 31) || !bcd_in(p[4], 0, 23) ||
        !bcd_in(p[5], 0, 59) || !bcd_in(p[6], 0, 59))
        return RangeErr;
    time_t s = BcdToTime(p);
    if (s == (time_t)-1) return -1;
    struct timeval tv = {s, 0};
    // The host must learn when the clock could not be set.
    return settimeofday(&tv, nullptr) == 0 ? 0 : -1;
}

u8 Proto_GetDeviceType(u8 *dst) {
    int row = 0;
    for (int i = 0; i < stDevNameTbl.iDevCnt; ++i)
        if (stDevNameTbl.stDevName[i].usDevType == 0xE0) {
            row = i;
            break;
        }
    const char *name = stDevNameTbl.stDevName[row].ucDevAppName;
    size_t n = strnlen(name, sizeof stDevNameTbl.stDevName[row].ucDevAppName);
    memcpy(dst, name, n);
    u8 *p = dst + n;
    *p++ = 0x2D;
    *p++ = 0x26;
    *p++ = 0x2D;
    memcpy(p, g_NetInfoEx.ucMac + 2, 4);
    return (u8)(n + 7);
}

int DeviceResetDefault(void) {
    int ret = reset_user_para();
    for (u8 i = 0; i < RTMP_URL_COUNT; ++i) {
        memset(&g_stUrl, 0, sizeof g_stUrl);
        g_stUrl.index = i;
        g_stUrl.user_name_len = 4;
        memcpy(g_stUrl.user_name, "NULL", 4);
        g_stUrl.rtmp_url_len = 4;
        memcpy(g_stUrl.rtmp_url, "NULL", 4);
        int r = SaveRtmpUrlFile(&g_stUrl);
        if (ret == 0) ret = r;
    }
    if (g_NetInfoEx.ucDhcpFlag == 0) {
        int r = SaveNetWorkParam(0, &tIpDefault);
        if (ret == 0 && r != 0) ret = FileWriteFail;
        SetIp();
    }
    return ret;
}

u16 ProtoRecvBagHandle(u8 *pucData) {
    if (pucData[4] == 0) return 0;
    ST_Protocol *f = (ST_Protocol *)pucData;
    u16 len = (u16)((pucData[2] | (pucData[3] << 8)) & UART_LEN_MASK);
    int have = len >= UART_BAG_MIN ? len - UART_BAG_MIN : 0;
    u8 cmd = f->ucCmd;
    u8 *p = pucData + 17;  // request payload, then the reply in its place
    u16 out = 0;

    if (cmd < 5 || !known(cmd)) return UartFinishBag(pucData, ReturnErrCode(p, CMDErr));
    if (have < needed(cmd)) return UartFinishBag(pucData, ReturnErrCode(p, BagLengthErr));
    // Stream numbers index two-entry tables.
    if ((cmd == 48 || cmd == 49 || cmd == 50) && p[0] > 1) return UartFinishBag(pucData, ReturnErrCode(p, RangeErr));

    switch (cmd) {
    case 5:
        printf("UART TEST SET IP.\n");
        out = ReturnErrCode(p, NoErr);
        break;
    case 11: {
        int r = DeviceResetDefault();
        out = ReturnErrCode(p, (u8)(r ? (r > 255 ? FileWriteFail : r) : NoErr));
        break;
    }
    case 14:
        printf("===================\r");
        printf("CMD_READ_ENGLISH_FLAG. %x %x\r\n", p[0], p[1]);
        printf("===================\r");
        break;
    case 25: {
        u8 code = p[0];
        printf("reso  %x  \n", code);
        // A mode outside the table is neither applied nor saved.
        if (!IsKnownInputMode(code & 15)) {
            out = ReturnErrCode(p, RangeErr);
            break;
        }
        int err = NoErr;
        if (code != UserSetGet(UsrBits::RecReso)) {
            UserSetPut(UsrBits::RecReso, code & 15);
            int r = SetInputReso(code & 15);
            stUserSetSave.ucRecReso = code & 15;
            int w = save_user_para();
            err = r ? DevInitERR : w;
        }
        out = ReturnErrCode(p, (u8)err);
        break;
    }
    case 32:
        p[0] = 0;
        p[1] = 0x10;
        p[2] = 0x09;
        out = 3;
        break;
    case 33:
        p[0] = 0;
        p[1] = 0x26;
        out = 2;
        break;
    case 34: {
        int r = 0;
        if (!g_FristInitMacFlag) {
            r = Proto_SetMac(p, (u16)have);
            // Only a change that took ends the tries of this run.
            if (r == 0) g_FristInitMacFlag = 1;
        }
        p[0] = (u8)(r ? 1 : 0);
        p[1] = (u8)(r == 0 ? 1 : 0);
        out = 2;
        break;
    }
    case 35: {
        int r = Proto_SetDns(p, (u16)have);
        out = ReturnErrCode(p, (u8)(r ? FileWriteFail : NoErr));
        break;
    }
    case 36: {
        u8 rec[28];
        Proto_GetNetworkPara(rec);
        p[0] = 0;
        memcpy(p + 1, rec, 28);
        out = 29;
        break;
    }
    case 37: case 51: case 98: case 120: case 187:
        break;
    case 48:
        g_stUserSet.ucRcMode[p[0]] = p[1];
        out = ReturnErrCode(p, NoErr);
        break;
    case 49: {
        u8 s = p[0];
        g_stUserSet.ucBitRate[s] = p[1];
        // A rate the encoder could not be rebuilt with is not saved.
        int err = DevInitERR;
        if (VencSetRcParam(s) == 0) {
            stUserSetSave.ucBitRate[s] = p[1];
            err = save_user_para();
        }
        out = ReturnErrCode(p, (u8)err);
        break;
    }
    case 50: {
        UserSetPut(UsrBits::Profile, p[1] & 3);
        printf("ucProfile = %d \n", p[1] & 3);
        int r = VencSetRcParam(p[0]);
        stUserSetSave.ucProfile = p[1] & 3;
        out = ReturnErrCode(p, (u8)(r ? DevInitERR : NoErr));
        break;
    }
    case 79:
        printf("usb connect status  %d \n", p[0]);
        UserSetPut(UsrBits::SdCardSel, p[0] & 3);
        stUserSetSave.bSdCardSel = p[0] & 3;
        out = ReturnErrCode(p, (u8)save_user_para());
        break;
    case 80: {
        u32 total = 0, freemb = 0, used = 0;
        int r = GetSDcardInfo_New(&total, &freemb, &used);
        if (r) total = freemb = used = 0;
        printf("---------------------\n");
        printf("Total\tFree\tUsed \n");
        printf("%d\t%d\t%d   \n", total, freemb, used);
        printf("---------------------\n");
        p[0] = (u8)r;
        put_mb(p + 1, total);
        put_mb(p + 3, used);
        put_mb(p + 5, freemb);
        out = 7;
        break;
    }
    case 81:
    case 82: {
        u32 v = 0;
        int r = GetSDcardInfo(&v, cmd == 81 ? 2 : 3);
        if (r) v = 0;
        printf(cmd == 81 ? "UsedSize = %x \n" : "FreeSize = %x \n", v);
        p[0] = (u8)r;
        put_mb(p + 1, v);
        out = 3;
        break;
    }
    case 83:
        p[0] = 0;
        p[1] = UserSetGet(UsrBits::InputState);
        out = 2;
        break;
    case 84: {
        int r = SetSystemTime(p);
        // 1 would read as "unknown command": a clock the system refused to
        // set is a device failure.
        p[0] = (u8)(r == RangeErr ? RangeErr : r ? DevInitERR : NoErr);
        p[1] = 1;
        out = 2;
        break;
    }
    case 96: {
        u32 v = 0;
        int r = GetSDcardInfo(&v, 1);
        printf("eRecBagErrCode = %d \r\n", r);
        if (r != 0) {
            out = ReturnErrCode(p, (u8)r);
            break;
        }
        Mp4RequestRecord(p[0] & 1);
        printf("g_stUserSet.ucSaveOnOff = %d\n", p[0] & 1);
        out = ReturnErrCode(p, NoErr);
        break;
    }
    case 97:
        p[0] = 0;
        p[1] = UserSetGet(UsrBits::RecStatus);
        out = 2;
        break;
    case 99:
        UserSetPut(UsrBits::Bitstream, p[0] & 1);
        out = ReturnErrCode(p, NoErr);
        break;
    case 100:
        UserSetPut(UsrBits::Savestream, p[0] & 1);
        out = ReturnErrCode(p, NoErr);
        break;
    case 101:
        Mp4RequestPause(p[0] & 1);
        out = ReturnErrCode(p, NoErr);
        break;
    case 102:
        out = ReturnErrCode(p, (u8)rtmp_switch(p));
        break;
    case 103: {
        ST_RTMP_URL rec;
        memcpy(&rec, p, sizeof rec);
        int r = rec.index < RTMP_URL_COUNT ? SaveRtmpUrl(&rec) : RangeErr;
        out = ReturnErrCode(p, (u8)r);
        break;
    }
    case 106: {
        ST_RTMP_URL rec;
        int r = LoadRtmpUrl(p[0], &rec);
        if (r == 0) g_stUrl = rec;
        printf("read---------------\n");
        printf("%d \n", g_stUrl.index);
        printf("%d \n", g_stUrl.user_name_len);
        printf("%s \n", g_stUrl.user_name);
        printf("%d \n", g_stUrl.rtmp_url_len);
        printf("%s \n", g_stUrl.rtmp_url);
        printf("%d \n", (int)sizeof g_stUrl);
        p[0] = (u8)r;
        memcpy(p + 1, &g_stUrl, sizeof g_stUrl);
        out = (u16)(1 + sizeof g_stUrl);
        break;
    }
    case 107:
        printf("%x  %x \n", p[0], p[1]);
        UserSetPut(UsrBits::RtmpIndex, p[1] & 7);
        out = ReturnErrCode(p, NoErr);
        break;
    case 112:
    case 113:
        out = ReturnErrCode(p, NoErr);
        break;
    case 114:
        UserSetPut(UsrBits::Rotate, p[1] & 3);
        break;
    case 255: {
        u8 tmp[32];
        u8 n = Proto_GetDeviceType(tmp);
        p[0] = 0;
        memcpy(p + 1, tmp, n);
        out = (u16)(1 + n);
        break;
    }
    default:
        out = ReturnErrCode(p, CMDErr);
        break;
    }
    return UartFinishBag(pucData, out);
}

// Control requests from the host meant for the recorder: carried out, and
// answered in the same buffer.
#pragma once
#include <stdint.h>
#include <time.h>

#include "link_types.h"

typedef struct {
    u8 usDevType;
    char ucDevAppName[16];
} stDevName_T;

typedef struct {
    int iDevCnt;
    stDevName_T stDevName[2];
} stDevNameTbl_T;

extern const stDevNameTbl_T stDevNameTbl;
extern u8 g_FristInitMacFlag;

u16 ProtoRecvBagHandle(u8 *pucData);
int DeviceResetDefault(void);
// 0; RangeErr (clock left) for a digit that is not BCD or a field out of its
// range; -1 when the clock could not be set.
int SetSystemTime(const u8 *bcd);
// Local time of the 7 BCD bytes (year, month, day, -, hour, minute, second).
time_t BcdToTime(const u8 *bcd);
u8 HexToDec(u8 x);
u8 Proto_GetDeviceType(u8 *dst);
// Tests: where the factory reset writes the settings file.
void ProtoSetUserParaPath(const char *path);

// Sensor interface: every call is one request on "/dev/mi_vif" whose payload
// is the leading identifiers followed by the caller's record.
#include <string.h>

#include "mi_id_records.h"
#include "mi_internal.h"
#include "mi_vif.h"
#include "mi_vif_internal.h"

namespace {

struct VifGroupArg {
    MI_U32 u32GroupId;
    MI_VIF_GroupAttr_t stAttr;
};
using VifDevArg = MiDevRecord<MI_VIF_DevAttr_t>;
struct VifPortAttrArg {
    MI_U32 u32Dev;
    MI_U32 u32Port;
    MI_VIF_OutputPortAttr_t stAttr;
};
struct VifPortArg {
    MI_U32 u32Dev;
    MI_U32 u32Port;
};

enum : unsigned long {
    kCreateDevGroup = MI_IOW(0, VifGroupArg),
    kSetDevAttr = MI_IOW(4, VifDevArg),
    kEnableDev = MI_IOW(6, MI_U32),
    kSetOutputPortAttr = MI_IOW(9, VifPortAttrArg),
    kEnableOutputPort = MI_IOW(11, VifPortArg),
    kDisableOutputPort = MI_IOW(12, VifPortArg),
};

static_assert(kCreateDevGroup == 0x40206900);
static_assert(kSetDevAttr == 0x40186904);
static_assert(kEnableDev == 0x40046906);
static_assert(kSetOutputPortAttr == 0x401c6909);
static_assert(kEnableOutputPort == 0x4008690b);
static_assert(kDisableOutputPort == 0x4008690c);

MiUseCount g_groupUse;

}  // namespace

extern "C" MI_U16 mi_vif_group_use_count(void) { return g_groupUse.get(); }

extern "C" MI_S32 MI_VIF_CreateDevGroup(MI_VIF_GROUP GroupId, MI_VIF_GroupAttr_t *pstGroupAttr) {
    VifGroupArg a;
    a.u32GroupId = GroupId;
    a.stAttr = *pstGroupAttr;  // no padding in this record
    return g_groupUse.count(mi_call(MI_DEV_VIF, kCreateDevGroup, &a, sizeof a));
}

extern "C" MI_S32 MI_VIF_SetDevAttr(MI_VIF_DEV u32VifDev, MI_VIF_DevAttr_t *pstDevAttr) {
    // Field by field into a cleared record: the caller's padding after the
    // boolean is never sent.
    VifDevArg a;
    memset(&a, 0, sizeof a);
    a.u32Dev = u32VifDev;
    a.st.eInputPixel = pstDevAttr->eInputPixel;
    a.st.stInputRect = pstDevAttr->stInputRect;
    a.st.eField = pstDevAttr->eField;
    a.st.bEnH2T1PMode = pstDevAttr->bEnH2T1PMode;
    return mi_call(MI_DEV_VIF, kSetDevAttr, &a, sizeof a);
}

extern "C" MI_S32 MI_VIF_EnableDev(MI_VIF_DEV u32VifDev) {
    MI_U32 dev = u32VifDev;
    return mi_call(MI_DEV_VIF, kEnableDev, &dev, sizeof dev);
}

extern "C" MI_S32 MI_VIF_SetOutputPortAttr(MI_VIF_DEV DevId, MI_VIF_PORT PortId, MI_VIF_OutputPortAttr_t *pstAttr) {
    VifPortAttrArg a;
    a.u32Dev = DevId;
    a.u32Port = PortId;
    a.stAttr = *pstAttr;  // no padding in this record
    return mi_call(MI_DEV_VIF, kSetOutputPortAttr, &a, sizeof a);
}

extern "C" MI_S32 MI_VIF_EnableOutputPort(MI_VIF_DEV DevId, MI_VIF_PORT PortId) {
    return mi_send(MI_DEV_VIF, kEnableOutputPort, VifPortArg{DevId, PortId});
}

extern "C" MI_S32 MI_VIF_DisableOutputPort(MI_VIF_DEV DevId, MI_VIF_PORT PortId) {
    return mi_send(MI_DEV_VIF, kDisableOutputPort, VifPortArg{DevId, PortId});
}

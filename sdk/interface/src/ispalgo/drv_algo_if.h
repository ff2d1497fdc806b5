// The one entry through which IQ-API control ids reach the algorithms. The
// dispatch knows every id, its directions and the size of its record; the
// conversion between a record and the algorithm's methods is a slot that
// each kind fills in its own file (ae/, awb/, af/).
#pragma once
#include "lx_types.h"

typedef enum {
    CAMERA_OK = 0,
    CAMERA_ERROR_OPEN_MEMMAP_FAIL = 1,
    CAMERA_ERROR_REQUEST_PHYMEM_FAIL = 2,
    CAMERA_ERROR_FREE_PHYMEM_FAIL = 3,
    CAMERA_ERROR_SENSOR_NOT_FOUND = 4,
    CAMERA_ERROR_NOT_SUPPORT = 5,
    CAMERA_ERROR_NULL_POINTER = 6,
    CAMERA_ERROR_3A_FAIL = 7,
    CAMERA_ERROR_WDMA_TIMEOUT = 8,
    CAMERA_ERROR_NO_SENSORVSYNC = 9,
    CAMERA_ERROR_OUTOF_ARRAY = 10,
    CAMERA_ERROR_BUFFER_TOO_SMALL = 11,
    CAMERA_ERROR_EMPTY_VARIABLE = 12,
    CAMERA_ERROR_CALIB_VERSION_FAIL = 13,
    CAMERA_ERROR_API_STRUCTURE_SIZE_NOT_MATCH = 14,
    CAMERA_ERROR_API_NOT_SUPPORT = 15,
} CAMERA_ERROR;

typedef enum {
    DRVALGO_KIND_AE = 0,
    DRVALGO_KIND_AWB = 1,
    DRVALGO_KIND_AF = 2,
} DRVALGO_KIND;

// One direction of one control id: convert the public record at pData
// (nSize bytes, already checked against the id's size except for 0x240F) to
// the algorithm's methods and back. pHandle and pData are never null here.
typedef LX_S32 (*DrvAlgo_Conv_fp)(void *pHandle, LX_U32 nSize, void *pData);

typedef struct {
    DrvAlgo_Conv_fp fpSet;  // null: the id is not (yet) supported for set
    DrvAlgo_Conv_fp fpGet;  // null: not (yet) supported for get
} DrvAlgo_ConvSlot_t;

#ifdef __cplusplus
extern "C" {
#endif
// Results are CAMERA_ERROR codes or the method's own result.
LX_S32 DrvAlgo_IF_ApiSet(LX_U32 nCtlID, void *pAEHandle, void *pAWBHandle, void *pAFHandle, void *pIQHandle,
                         LX_U32 nSize, void *pData);
LX_S32 DrvAlgo_IF_ApiGet(LX_U32 nCtlID, void *pAEHandle, void *pAWBHandle, void *pAFHandle, void *pIQHandle,
                         LX_U32 nSize, void *pData);

// The conversion slots of each kind, defined in the kind's own file; ids of
// the other kinds are never asked.
DrvAlgo_ConvSlot_t DrvAlgo_IF_AE_Slot(LX_U32 nCtlID);
DrvAlgo_ConvSlot_t DrvAlgo_IF_AWB_Slot(LX_U32 nCtlID);
DrvAlgo_ConvSlot_t DrvAlgo_IF_AF_Slot(LX_U32 nCtlID);

// The dispatch's table: whether the id is known for the direction (set 0,
// get 1), and if so its kind and record size (0 for 0x240F: no size check).
LX_S32 DrvAlgo_IF_Lookup(LX_U32 nCtlID, LX_U32 u32Dir, DRVALGO_KIND *peKind, LX_U32 *pnSize);
#ifdef __cplusplus
}
#endif

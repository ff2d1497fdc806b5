// Tags of the IQ parameter table (DBG_TAG): the names and their order are in
// iq_tag_list.inc, one per line with its value.
#pragma once

typedef enum {
#define IQ_TAG_NAME(n) n,
#include "iq_tag_list.inc"
#undef IQ_TAG_NAME
    DBG_TAG_MAX
} DBG_TAG;

static_assert(DBG_TAG_MAX == 1072, "parameter table size");
static_assert(DBG_AE_HIST_TYPE == 6 && DBG_AE_WEIGHTING_TBL == 49, "AE tags");
static_assert(DBG_AWB_CALI_PREGAIN == 214 && DBG_AWB_MODE_CONTROL == 248, "AWB tags");

#pragma once
#ifdef __cplusplus
extern "C" {
#endif
int CUS3A_Init(unsigned int dev);
#ifdef __cplusplus
}
#endif

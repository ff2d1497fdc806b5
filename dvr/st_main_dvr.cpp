#include "st_main_dvr.h"

#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "bag_queue.h"
#include "dvr_audio.h"
#include "frame_list.h"
#include "mp4_record.h"
#include "net_config.h"
#include "udp_relay.h"
#include "rtmp_publish.h"
#include "st_pipeline.h"
#include "st_venc_stream.h"
#include "uart_proto.h"
#include "usb_detect.h"
#include "user_setting.h"
#include "web_control.h"

// Start-up hooks: each "START-UP:" comment below marks the place in the fixed
// start-up order where a worker or an initialisation step belongs. Put its
// call at the marker (keep the order) when that worker is built.

int vidrec_main(void) {
    srand(unsigned(time(nullptr)));

    StartupLoadSettings(USER_PARA_FILE);

    ReadDhcpFlag();
    UartRecvQueueInit();

    rtp_init(&input_list[0]);  // record video
    rtp_init(&input_list[1]);  // stream: video + AAC

    Sample_Mp4ParaInit();

    VIDREC_START_THREAD(MongooseWeb, nullptr);
    VIDREC_START_THREAD(DHCP_Proc, nullptr);

    rtp_init(&audio_list[0]);  // record audio
    BagQueueInit(&stAacAudioQueue, ucAacAudioQueueBuf, AAC_PACKET_LEN, AAC_PACKET_NUM);

    VIDREC_START_THREAD(FdkAAC_Encode, nullptr);

    usleep(100 * 1000);

    VIDREC_START_THREAD(Mp4Muxer, input_list);
    VIDREC_START_THREAD(RtmpHandle, &input_list[1]);
    VIDREC_START_THREAD(UartDataProc, nullptr);
    VIDREC_START_THREAD(UsbDetectProc, nullptr);
    VIDREC_START_THREAD(UdpRecvData, nullptr);       // port 7000
    VIDREC_START_THREAD(NetQueueDataProc, nullptr);
    VIDREC_START_THREAD(UdpRecvData_7100, nullptr);  // port 7100
    VIDREC_START_THREAD(UdpRecvDataNew, nullptr);    // port 57038

    DebugInfo();

    SetChangeStart(0);

    ST_BaseModuleParaInit();
    {
        MI_S32 s32Ret = ST_BaseModuleInit(0);
        if (s32Ret != 0) {
            printf("[%s %d]exec function failed, error:%x\n", "main", __LINE__, s32Ret);
            return s32Ret;
        }
        printf("(%s %d)exec function pass\n", "main", __LINE__);
    }

    bAiExit = 0;
    u8AOInitOk = 0;

    {
        MI_S32 s32Ret = initAi();
        if (s32Ret != 0) {
            printf("[%s %d]exec function failed, error:%x\n", "main", __LINE__, s32Ret);
            return s32Ret;
        }
        printf("[%s %d]exec function pass\n", "main", __LINE__);
        s32Ret = initAo();
        if (s32Ret != 0) {
            printf("[%s %d]exec function failed, error:%x\n", "main", __LINE__, s32Ret);
            return s32Ret;
        }
        printf("[%s %d]exec function pass\n", "main", __LINE__);
    }

    VIDREC_START_THREAD(_ST_VencGetData, nullptr);

    // The workers do everything from here on.
    for (;;) pause();
}

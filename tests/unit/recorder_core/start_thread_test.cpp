#include <gtest/gtest.h>
#include <pthread.h>
#include <semaphore.h>

#include "start_thread.h"

namespace {

sem_t g_go, g_done;
char g_name[32];
void* g_arg;

// Reads its own name once the starter has returned (the name is set then).
void* UdpRecvData_7100(void* arg) {
    sem_wait(&g_go);
    g_arg = arg;
    pthread_getname_np(pthread_self(), g_name, sizeof(g_name));
    sem_post(&g_done);
    return nullptr;
}

void* RtmpHandle(void* arg) { return UdpRecvData_7100(arg); }

}  // namespace

TEST(StartThread, NamedAfterEntryCutTo15) {
    sem_init(&g_go, 0, 0);
    sem_init(&g_done, 0, 0);
    ASSERT_EQ(VIDREC_START_THREAD(UdpRecvData_7100, nullptr), 0);
    sem_post(&g_go);
    sem_wait(&g_done);
    EXPECT_STREQ(g_name, "UdpRecvData_710");

    int x = 0;
    ASSERT_EQ(VIDREC_START_THREAD(RtmpHandle, &x), 0);
    sem_post(&g_go);
    sem_wait(&g_done);
    EXPECT_STREQ(g_name, "RtmpHandle");
    EXPECT_EQ(g_arg, &x);
    sem_destroy(&g_go);
    sem_destroy(&g_done);
}

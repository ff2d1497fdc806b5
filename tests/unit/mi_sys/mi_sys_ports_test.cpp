// Port-level services of the system module on the virtual board: binding,
// output-port buffers, depths, device memory and pollable descriptors.
#include <sys/select.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "mi_seam.h"
#include "mi_sys.h"
#include "mi_sys_ioctl.h"
#include "mi_sys_test_util.h"
#include "vb.h"
#include "vb_sys.h"

using namespace mi_sys_test;

namespace mi_sys_test {
std::vector<int> open_fds_of(const char *node) {
    std::vector<int> out;
    for (int fd = 0; fd < 1024; ++fd)
        if (vb::node_of(fd) == node) out.push_back(fd);
    return out;
}
}  // namespace mi_sys_test

namespace {

class SysPorts : public ::testing::Test {
protected:
    void SetUp() override {
        vb::inject_clear();
        vb::trace_clear();
    }
    void TearDown() override { vb::inject_clear(); }
};

bool readable(int fd) {
    fd_set rs;
    FD_ZERO(&rs);
    FD_SET(fd, &rs);
    timeval tv{0, 0};
    return select(fd + 1, &rs, nullptr, nullptr, &tv) == 1 && FD_ISSET(fd, &rs);
}

std::vector<unsigned long> sys_codes() {
    std::vector<unsigned long> out;
    for (auto &e : vb::trace("/dev/mi_sys")) out.push_back(e.code);
    return out;
}

TEST_F(SysPorts, BindRecordsRatesAndAnInputTakesOneSource) {
    MI_SYS_ChnPort_t src{E_MI_MODULE_ID_VDEC, 0, 1, 0}, dst{E_MI_MODULE_ID_VDISP, 0, 1, 0};
    MI_SYS_ChnPort_t other{E_MI_MODULE_ID_IVE, 0, 1, 0};
    ASSERT_EQ(MI_SYS_BindChnPort2(0, &src, &dst, 60, 30, E_MI_SYS_BIND_TYPE_HW_RING, 9), 0);
    vb::Binding b;
    ASSERT_TRUE(vb::binding_to(dst, &b));
    EXPECT_TRUE(vb::same_port(b.src, src));
    EXPECT_EQ(b.src_fps, 60u);
    EXPECT_EQ(b.dst_fps, 30u);
    EXPECT_EQ(b.type, (uint32_t)E_MI_SYS_BIND_TYPE_HW_RING);
    EXPECT_EQ(b.param, 9u);

    EXPECT_NE(MI_SYS_BindChnPort2(0, &other, &dst, 30, 30, E_MI_SYS_BIND_TYPE_FRAME_BASE, 0), 0);
    EXPECT_NE(MI_SYS_UnBindChnPort(0, &other, &dst), 0);
    ASSERT_EQ(MI_SYS_UnBindChnPort(0, &src, &dst), 0);
    EXPECT_FALSE(vb::binding_to(dst, nullptr));
    EXPECT_NE(MI_SYS_UnBindChnPort(0, &src, &dst), 0);

    MI_SYS_ChnPort_t bad{(MI_ModuleId_e)E_MI_MODULE_ID_MAX, 0, 0, 0};
    EXPECT_EQ(MI_SYS_BindChnPort2(0, &bad, &dst, 1, 1, E_MI_SYS_BIND_TYPE_FRAME_BASE, 0),
              (int)MI_SYS_ERR_ILLEGAL_PARAM);
}

// Stands in for a module driver that owns output-port buffers.
class FakeSource : public vb::PortSource {
public:
    int result = 0;
    MI_SYS_ChnPort_t seen{};
    std::vector<int32_t> put;
    int get_buf(const MI_SYS_ChnPort_t &port, void *bufinfo, int32_t *handle) override {
        seen = port;
        auto *bi = static_cast<MI_SYS_BufInfo_t *>(bufinfo);
        bi->u64Pts = 123456789;
        bi->eBufType = E_MI_SYS_BUFDATA_RAW;
        bi->stRawData.u32ContentSize = 8192;
        bi->stRawData.u64SeqNum = 77;
        bi->stRawData.pVirAddr = this;
        *handle = vb::make_handle(E_MI_MODULE_ID_GFX, 5);
        return result;
    }
    int put_buf(int32_t handle) override {
        put.push_back(handle);
        return 0;
    }
};

TEST_F(SysPorts, OutputBuffersComeFromTheOwningModuleWhateverTheResult) {
    static FakeSource src;
    vb::register_port_source(E_MI_MODULE_ID_GFX, &src);
    MI_SYS_ChnPort_t p{E_MI_MODULE_ID_GFX, 1, 2, 0};
    MI_SYS_BufInfo_t bi;
    memset(&bi, 0xEE, sizeof bi);
    MI_SYS_BUF_HANDLE h = -1;
    ASSERT_EQ(MI_SYS_ChnOutputPortGetBuf(&p, &bi, &h), 0);
    EXPECT_TRUE(vb::same_port(src.seen, p));
    EXPECT_EQ(bi.u64Pts, 123456789u);
    EXPECT_EQ(bi.stRawData.u32ContentSize, 8192u);
    EXPECT_EQ(bi.stRawData.u64SeqNum, 77u);
    EXPECT_EQ(bi.stRawData.pVirAddr, (void *)&src);
    EXPECT_EQ(bi.bEndOfStream, 0);  // fields the driver left alone read zero, not the caller's old bytes
    EXPECT_EQ(h, vb::make_handle(E_MI_MODULE_ID_GFX, 5));

    // A failing driver still hands back what the record holds.
    src.result = (int)MI_SYS_ERR_BUF_EMPTY;
    bi.u64Pts = 0;
    EXPECT_EQ(MI_SYS_ChnOutputPortGetBuf(&p, &bi, &h), (int)MI_SYS_ERR_BUF_EMPTY);
    EXPECT_EQ(bi.u64Pts, 123456789u);

    ASSERT_EQ(MI_SYS_ChnOutputPortPutBuf(h), 0);
    ASSERT_EQ(src.put.size(), 1u);
    EXPECT_EQ(src.put[0], h);

    // No driver serves buffers for this module, and a handle of nobody's.
    MI_SYS_ChnPort_t none{E_MI_MODULE_ID_WBC, 0, 0, 0};
    EXPECT_NE(MI_SYS_ChnOutputPortGetBuf(&none, &bi, &h), 0);
    EXPECT_NE(MI_SYS_ChnOutputPortPutBuf(vb::make_handle(E_MI_MODULE_ID_WBC, 1)), 0);
    vb::register_port_source(E_MI_MODULE_ID_GFX, nullptr);
}

TEST_F(SysPorts, DepthIsRecordedPerPort) {
    MI_SYS_ChnPort_t p{E_MI_MODULE_ID_VDEC, 2, 0, 1};
    uint32_t u = 0, q = 0;
    EXPECT_FALSE(vb::sys_port_depth(p, &u, &q));
    ASSERT_EQ(MI_SYS_SetChnOutputPortDepth(0, &p, 100, 108), 0);
    ASSERT_TRUE(vb::sys_port_depth(p, &u, &q));
    EXPECT_EQ(u, 100u);
    EXPECT_EQ(q, 108u);
    MI_SYS_ChnPort_t p2 = p;
    p2.u32PortId = 2;
    EXPECT_FALSE(vb::sys_port_depth(p2, &u, &q));
}

TEST_F(SysPorts, DeviceMemoryMapsToTheSameBytes) {
    uint64_t phy = vb::sys_mem_alloc(3 * 4096);
    ASSERT_NE(phy, 0u);
    void *va = nullptr;
    ASSERT_EQ(MI_SYS_Mmap(phy, 3 * 4096, &va, 1), 0);
    ASSERT_EQ(va, vb::sys_phys_to_virt(phy));
    memset(va, 0x5c, 3 * 4096);
    EXPECT_EQ(static_cast<uint8_t *>(vb::sys_phys_to_virt(phy + 4096))[7], 0x5c);
    EXPECT_EQ(MI_SYS_FlushInvCache(va, 3 * 4096), 0);
    EXPECT_NE(MI_SYS_FlushInvCache(&phy, 8), 0);  // not device memory

    // A second allocation does not overlap the first.
    uint64_t phy2 = vb::sys_mem_alloc(100);
    EXPECT_TRUE(phy2 >= phy + 3 * 4096 || phy2 + 100 <= phy);

    EXPECT_EQ(MI_SYS_Munmap(va, 3 * 4096), 0);
    EXPECT_NE(MI_SYS_Munmap(va, 3 * 4096), 0);

    // Outside the area: failure, and the caller's pointer is overwritten.
    va = reinterpret_cast<void *>(0x1);
    EXPECT_NE(MI_SYS_Mmap(vb::sys_mem_base() + vb::sys_mem_size() - 4096, 8192, &va, 0), 0);
    EXPECT_EQ(va, nullptr);
    va = reinterpret_cast<void *>(0x1);
    EXPECT_NE(MI_SYS_Mmap(0x1000, 4096, &va, 0), 0);
    EXPECT_EQ(va, nullptr);
    vb::sys_mem_free(phy);
    vb::sys_mem_free(phy2);
}

TEST_F(SysPorts, GetFdIsReadableExactlyWhileThePortHasData) {
    MI_SYS_ChnPort_t p{E_MI_MODULE_ID_VDEC, 0, 4, 0};
    vb::port_set_ready(p, false);
    MI_S32 fd = -1;
    ASSERT_EQ(MI_SYS_GetFd(&p, &fd), 0);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(vb::node_of(fd), "/dev/mi_poll");
#if defined(__arm__)
    const std::vector<unsigned long> want{0xc0146919, 0xc0146917, 0x4014691a};
#else
    const std::vector<unsigned long> want{MI_SYS_IOC_GET_FD, MI_SYS_IOC_GET_POLL_DATA, MI_SYS_IOC_SET_FD};
#endif
    EXPECT_EQ(sys_codes(), want);

    EXPECT_FALSE(readable(fd));
    vb::port_set_ready(p, true);
    EXPECT_TRUE(readable(fd));
    vb::port_set_ready(p, false);
    EXPECT_FALSE(readable(fd));

    // Another port's data does not wake this one.
    MI_SYS_ChnPort_t q = p;
    q.u32ChnId = 5;
    vb::port_set_ready(q, true);
    EXPECT_FALSE(readable(fd));
    vb::port_set_ready(q, false);

    // The driver now holds the descriptor: asked again, it answers it and
    // nothing new is opened.
    auto polls_before = open_fds_of("/dev/mi_poll");
    vb::trace_clear();
    MI_S32 again = -1;
    ASSERT_EQ(MI_SYS_GetFd(&p, &again), 0);
    EXPECT_EQ(again, fd);
    EXPECT_EQ(sys_codes(), std::vector<unsigned long>{MI_SYS_IOC_GET_FD});
    EXPECT_EQ(open_fds_of("/dev/mi_poll"), polls_before);

    ASSERT_EQ(MI_SYS_CloseFd(fd), 0);
    EXPECT_EQ(vb::node_of(fd), "");
    EXPECT_EQ(vb::sys_port_fd(p), -1);
}

TEST_F(SysPorts, GetFdReturnsADescriptorTheModuleDriverHolds) {
    MI_SYS_ChnPort_t p{E_MI_MODULE_ID_VDEC, 0, 6, 0};
    int efd = vb::new_event_fd();
    vb::sys_hold_port_fd(p, efd);
    MI_S32 fd = -1;
    ASSERT_EQ(MI_SYS_GetFd(&p, &fd), 0);
    EXPECT_EQ(fd, efd);
    EXPECT_EQ(sys_codes(), std::vector<unsigned long>{MI_SYS_IOC_GET_FD});
    vb::sys_hold_port_fd(p, -1);
    close(efd);
}

TEST_F(SysPorts, GetFdFailuresReleaseThePollDescriptor) {
    MI_SYS_ChnPort_t p{E_MI_MODULE_ID_VDEC, 0, 7, 0};
    auto before = open_fds_of("/dev/mi_poll");
    MI_S32 fd = 1234;

    vb::inject("/dev/mi_sys", MI_SYS_IOC_GET_POLL_DATA, (int)MI_SYS_ERR_ILLEGAL_PARAM, 1);
    EXPECT_EQ(MI_SYS_GetFd(&p, &fd), (int)MI_SYS_ERR_FAILED);
    EXPECT_EQ(fd, 1234);
    EXPECT_EQ(open_fds_of("/dev/mi_poll"), before);

    vb::trace_clear();
    vb::inject("/dev/mi_sys", MI_SYS_IOC_SET_FD, (int)MI_SYS_ERR_ILLEGAL_PARAM, 1);
    EXPECT_EQ(MI_SYS_GetFd(&p, &fd), (int)MI_SYS_ERR_FAILED);
    EXPECT_EQ(fd, 1234);
    EXPECT_EQ(open_fds_of("/dev/mi_poll"), before);
    auto codes = sys_codes();
    ASSERT_FALSE(codes.empty());
    EXPECT_EQ(codes.back(), MI_SYS_IOC_CLOSE_FD);  // released through CloseFd

    // A token the poll node does not know is refused.
    int pfd = mi_node_open("/dev/mi_poll", 2);
    ASSERT_GE(pfd, 0);
    EXPECT_EQ(mi_node_ioctl(pfd, 0, reinterpret_cast<void *>(0x7)), -1);
    mi_node_close(pfd);

    // Afterwards the port still gets a working descriptor.
    ASSERT_EQ(MI_SYS_GetFd(&p, &fd), 0);
    vb::port_set_ready(p, true);
    EXPECT_TRUE(readable(fd));
    vb::port_set_ready(p, false);
    EXPECT_EQ(MI_SYS_CloseFd(fd), 0);
}

TEST_F(SysPorts, CloseFdReportsACloseFailureEvenWhenTheDriverAccepted) {
    int unused = dup(0);
    ASSERT_GE(unused, 0);
    close(unused);  // now certainly not open
    EXPECT_EQ((MI_U32)MI_SYS_CloseFd(unused), MI_SYS_ERR_FAILED);
    EXPECT_EQ(last_sys_request().result, 0);

    vb::inject("/dev/mi_sys", MI_SYS_IOC_CLOSE_FD, 0x40, 1);
    EXPECT_EQ((MI_U32)MI_SYS_CloseFd(unused), MI_SYS_ERR_FAILED | 0x40);
}

}  // namespace

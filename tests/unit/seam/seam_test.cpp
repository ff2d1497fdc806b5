// The sim seam: routing by node then code, size checks, trace, injection,
// and descriptors that select() understands.
#include <errno.h>
#include <fcntl.h>
#include <sys/select.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "mi_internal.h"
#include "mi_seam.h"
#include "vb.h"

namespace {

struct Rec {
    uint32_t a, b;
};

class EchoDriver : public vb::Driver {
public:
    int calls = 0;
    int ioctl(int, unsigned long code, void *payload, size_t len) override {
        ++calls;
        if (len == sizeof(Rec)) static_cast<Rec *>(payload)->b = static_cast<Rec *>(payload)->a + 1;
        return (int)(code & 0xff);
    }
};

EchoDriver g_echo;

class SeamTest : public ::testing::Test {
protected:
    void SetUp() override {
        vb::register_driver("/dev/vb_test_echo", &g_echo);
        vb::trace_clear();
        vb::inject_clear();
    }
};

TEST_F(SeamTest, RoutesPayloadAndTracesBothDirections) {
    int fd = mi_node_open("/dev/vb_test_echo", O_RDWR);
    ASSERT_GE(fd, 0);
    Rec r{41, 0};
    int ret = mi_call_fd(fd, "echo", MI_IOWR(7, Rec), &r, sizeof r);
    EXPECT_EQ(ret, 7);
    EXPECT_EQ(r.b, 42u);
    auto t = vb::trace("/dev/vb_test_echo");
    ASSERT_EQ(t.size(), 1u);
    EXPECT_EQ(t[0].code, (unsigned long)MI_IOWR(7, Rec));
    ASSERT_EQ(t[0].in.size(), sizeof(Rec));
    EXPECT_EQ(t[0].in[0], 41);
    EXPECT_EQ(t[0].out[4], 42);
    EXPECT_EQ(t[0].result, 7);
    mi_node_close(fd);
}

TEST_F(SeamTest, RefusesPayloadSizeThatDoesNotMatchCode) {
    int fd = mi_node_open("/dev/vb_test_echo", O_RDWR);
    ASSERT_GE(fd, 0);
    int before = g_echo.calls;
    Rec r{1, 0};
    mi_ioctl_arg_t arg{(int32_t)sizeof(Rec) + 4, 0, (uint64_t)(uintptr_t)&r};
    errno = 0;
    EXPECT_EQ(mi_node_ioctl(fd, MI_IOWR(7, Rec), &arg), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(g_echo.calls, before);
    mi_node_close(fd);
}

TEST_F(SeamTest, InjectionAnswersInsteadOfDriverForChosenCount) {
    int fd = mi_node_open("/dev/vb_test_echo", O_RDWR);
    Rec r{1, 0};
    vb::inject("/dev/vb_test_echo", MI_IOW(3, Rec), (int)0xA0092003, 2);
    int before = g_echo.calls;
    EXPECT_EQ(mi_call_fd(fd, "echo", MI_IOW(3, Rec), &r, sizeof r), (int)0xA0092003);
    EXPECT_EQ(mi_call_fd(fd, "echo", MI_IOW(3, Rec), &r, sizeof r), (int)0xA0092003);
    EXPECT_EQ(g_echo.calls, before);
    EXPECT_EQ(mi_call_fd(fd, "echo", MI_IOW(3, Rec), &r, sizeof r), 3);
    // Same code on another node is not affected.
    mi_node_close(fd);
}

TEST_F(SeamTest, UnknownNodeFailsLikeMissingDevice) {
    errno = 0;
    EXPECT_EQ(mi_node_open("/dev/mi_nothing_here", O_RDWR), -1);
    EXPECT_EQ(errno, ENOENT);
}

TEST_F(SeamTest, AttachedDescriptorIsReadableOnlyWhilePortReady) {
    int fd = vb::new_event_fd();
    ASSERT_GE(fd, 0);
    MI_SYS_ChnPort_t port{E_MI_MODULE_ID_VENC, 0, 1, 0};
    vb::port_set_ready(port, false);
    vb::poll_attach(fd, port);
    auto readable = [&] {
        fd_set rs;
        FD_ZERO(&rs);
        FD_SET(fd, &rs);
        timeval tv{0, 0};
        return select(fd + 1, &rs, nullptr, nullptr, &tv) == 1;
    };
    EXPECT_FALSE(readable());
    vb::port_set_ready(port, true);
    EXPECT_TRUE(readable());
    vb::port_set_ready(port, true);
    vb::port_set_ready(port, false);
    EXPECT_FALSE(readable());
    vb::poll_detach(fd);
    close(fd);
}

TEST_F(SeamTest, BindingGraphKeepsOneSourcePerInput) {
    MI_SYS_ChnPort_t a{E_MI_MODULE_ID_SCL, 0, 0, 0}, b{E_MI_MODULE_ID_VENC, 0, 0, 0};
    MI_SYS_ChnPort_t c{E_MI_MODULE_ID_SCL, 0, 0, 1};
    ASSERT_EQ(vb::bind({a, b, 30, 30, 1, 0}), 0);
    EXPECT_NE(vb::bind({c, b, 30, 30, 1, 0}), 0);
    EXPECT_EQ(vb::bindings_from(a).size(), 1u);
    EXPECT_EQ(vb::unbind(a, b), 0);
    EXPECT_NE(vb::unbind(a, b), 0);
    EXPECT_TRUE(vb::bindings_from(a).empty());
}

TEST(BoardClock, PtsFollowsBaseAndAdvances) {
    vb::pts_set(5000000);
    uint64_t t0 = vb::pts_now();
    EXPECT_GE(t0, 5000000u);
    EXPECT_LT(t0, 5000000u + 100000u);
    usleep(20000);
    EXPECT_GE(vb::pts_now() - t0, 20000u);
}

}  // namespace

namespace {

struct CountSink : vb::FrameSink {
    int n = 0;
    void deliver(const MI_SYS_ChnPort_t &, const vb::Picture &) override { ++n; }
};

TEST(Graph, DeliveryHonoursDestinationRate) {
    static CountSink sink;
    vb::register_sink(E_MI_MODULE_ID_DIVP, &sink);
    MI_SYS_ChnPort_t src{E_MI_MODULE_ID_VDEC, 0, 0, 0}, dst{E_MI_MODULE_ID_DIVP, 0, 0, 0};
    ASSERT_EQ(vb::bind({src, dst, 60, 25, 1, 0}), 0);
    vb::Picture pic;
    for (int i = 0; i < 120; ++i) vb::deliver_from(src, pic);
    EXPECT_EQ(sink.n, 50);
    vb::unbind(src, dst);
    EXPECT_EQ(vb::deliver_from(src, pic), 0);
}

TEST(Control, VerbsAnswerInProcess) {
    EXPECT_EQ(vb::ctl_exec("nonsense"), "error: unknown verb nonsense");
    vb::register_ctl("echo2", [](const std::vector<std::string> &a) { return a.size() > 1 ? a[1] : ""; });
    EXPECT_EQ(vb::ctl_exec("echo2 hello"), "hello");
}

}  // namespace

// kt5cu_bench: figures for the update core. How fast the image is checked and
// cut into records, and how long a whole write takes against the emulator
// over TCP and over a pseudo-terminal (one request outstanding at a time, so
// the round trip per record decides).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "command_channel.h"
#include "command_view.h"
#include "command_window_posix.h"
#include "device_emulator.h"
#include "hex_record.h"
#include "image_file.h"
#include "link.h"
#include "protocol.h"

namespace {

using Clock = std::chrono::steady_clock;

// A window that carries out every command and shows nothing.
class SilentView : public CommandView {
public:
    void showStatusText(const std::string&) override {}
    void showDeviceVersion(const std::string&) override {}
    void showImageVersion(const std::string&) override {}
    bool askConfirmation(const std::string&) override { return true; }
    void showErrorBox(const std::string&, const std::string& message) override
    {
        std::fprintf(stderr, "error: %s\n", message.c_str());
    }
    void enableControls(bool) override {}
    void setProgressRange(uint32_t) override {}
    void stepProgress(uint32_t) override {}
    void resetProgress() override {}
};

void loadInto(UpdateContext* ctx, const std::string& image)
{
    ctx->imageSize = static_cast<int32_t>(image.size());
    ctx->imageData = static_cast<uint8_t*>(std::malloc(image.size()));
    std::memcpy(ctx->imageData, image.data(), image.size());
}

void benchImageCheck()
{
    UpdateContext ctx{};
    loadInto(&ctx, imageOfData(1, 2, std::vector<uint8_t>(1 << 20, 0x5A), 32));
    const int rounds = 20;
    const auto start = Clock::now();
    int records = 0;
    for (int i = 0; i < rounds; ++i) {
        if (!checkImage(nullptr, &ctx))
            std::fprintf(stderr, "the image was refused\n");
        uint8_t destination[kBufferSize];
        for (int32_t cursor = kVersionLineSize; cursor < ctx.imageSize;) {
            const int length = cutRecord(ctx.imageData + cursor, ctx.imageData + ctx.imageSize, destination);
            if (length == 0)
                break;
            cursor += length + 2;
            ++records;
        }
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("image check and cut: %d x %.1f KiB image, %.0f MiB/s, %.0f records/ms\n", rounds,
                ctx.imageSize / 1024.0, rounds * ctx.imageSize / seconds / (1 << 20), records / seconds / 1000);
    std::free(ctx.imageData);
}

void benchWrite(const char* name, DeviceEmulator& device, UpdateContext* ctx, size_t dataSize)
{
    loadInto(ctx, imageOfData(1, 2, std::vector<uint8_t>(dataSize, 0x5A), 32));
    CommandWindow window;
    SilentView view;
    bool ok = false;
    const auto start = Clock::now();
    std::thread worker([&] {
        ok = openLink(&window, ctx) && writeImage(&window, ctx);
        quitUpdateMode(&window, ctx);
        closeLink(&window, ctx);
        window.close();
    });
    while (auto command = window.nextCommand(std::chrono::seconds(60)))
        handleUpdateCommand(&window, view, ctx, command->code, command->argument);
    worker.join();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const int records = device.counters().records;
    std::printf("%s: %s, %d records, %.1f KiB of image in %.2f s: %.0f records/s, %.0f KiB/s\n", name,
                ok ? "written and verified" : "FAILED", records, ctx->imageSize / 1024.0, seconds,
                records / seconds, ctx->imageSize / 1024.0 / seconds);
    std::free(ctx->imageData);
    ctx->imageData = nullptr;
}

} // namespace

int main()
{
    benchImageCheck();

    UpdateContext ctx{};
    initUpdateContext(&ctx);
    ctx.imageMinor = 0x02;
    ctx.imageMajor = 0x01;

    DeviceEmulatorOptions options;
    options.port = 0;
    DeviceEmulator tcp(options);
    if (tcp.startTcp()) {
        ctx.method = Network;
        std::snprintf(ctx.ipText, sizeof ctx.ipText, "127.0.0.1");
        ctx.tcpPort = tcp.port();
        benchWrite("TCP loopback", tcp, &ctx, 128 * 1024);
    }
    DeviceEmulator pty;
    if (pty.startPty()) {
        ctx.method = Serial;
        std::snprintf(ctx.comDevice, sizeof ctx.comDevice, "%s", pty.ptyPath().c_str());
        benchWrite("pseudo-terminal", pty, &ctx, 128 * 1024);
    }
    std::printf("heap: the image file is the only block the update allocates\n");
    return 0;
}

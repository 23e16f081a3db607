// make-image DATA OUT: raw data wrapped into an update image that passes the check.
#include <CLI/CLI.hpp>
#include <cinttypes>
#include <cstdio>
#include <limits>

#include "base/Utf8Path.h"
#include "cli/Command.h"
#include "image/Crc16.h"
#include "image/ImageChecker.h"
#include "ops/JobFile.h"

namespace brev::cli {
namespace {

class MakeImageCommand : public ICommand {
public:
    const char* Name() const override { return "make-image"; }
    const char* Description() const override {
        return "Wrap raw DATA into an update image OUT (magic, header length, data length, CRC)";
    }
    bool NeedsDevices() const override { return false; }
    void AddOptions(CLI::App& sub) override {
        sub.add_option("DATA", data_, "Raw data file (what goes into flash)")->type_name("FILE")->required();
        sub.add_option("OUT", out_, "Update image to write")->type_name("FILE")->required();
        sub.add_option("--header-size", headerSize_, "Header length in bytes (at least 22)")
            ->type_name("BYTES")
            ->check(CLI::Range(22u, 0x10000000u).description(""))
            ->capture_default_str();
    }

    ExitCode Execute(CommandContext& ctx) override {
        const uint64_t maxData = std::numeric_limits<uint32_t>::max() - headerSize_;
        const auto data = JobFile::ReadWhole(PathFromUtf8(data_), maxData);
        if (!data) {
            ctx.output.Error(data_ + ": cannot be read (or larger than an image can hold)");
            return ExitCode::Usage;
        }
        // An image without data fails its own check; refuse to make one.
        if (data->empty()) {
            ctx.output.Error(data_ + ": is empty; an update image needs at least one data byte");
            return ExitCode::Usage;
        }
        if (std::error_code ec; !WriteUpdateImage(PathFromUtf8(out_), *data, headerSize_, &ec)) {
            ctx.output.Error(out_ + ": cannot be written: " + ec.message());
            return ExitCode::Usage;
        }
        // Proof that what was written is what a download accepts.
        CImageChecker checker;
        const int code = checker.Check(PathFromUtf8(out_));
        if (code != ImageOk) {
            ctx.output.Error(out_ + ": the written image fails its check: " + std::to_string(code) + " " +
                             ImageResultText(code));
            return ExitCode::DeviceFailed;
        }
        const uint16_t crc = Crc16Ccitt(data->data(), static_cast<int64_t>(data->size()));
        char crcText[8];
        std::snprintf(crcText, sizeof crcText, "%04X", crc);
        JsonObject json = JsonEvent("madeImage");
        json.Add("file", out_)
            .Add("headerLength", static_cast<uint64_t>(headerSize_))
            .Add("dataLength", static_cast<uint64_t>(data->size()))
            .Add("crc", crcText);
        ctx.output.Result(out_ + ": update image, header " + std::to_string(headerSize_) + " bytes, data " +
                              std::to_string(data->size()) + " bytes, CRC " + crcText,
                          json);
        return ExitCode::Ok;
    }

    std::vector<std::string> InputFiles() const override { return {data_}; }
    std::vector<std::string> OutputFiles() const override { return {out_}; }

private:
    std::string data_;
    std::string out_;
    uint32_t headerSize_ = 256;
};

}  // namespace

std::unique_ptr<ICommand> MakeMakeImageCommand() { return std::make_unique<MakeImageCommand>(); }

}  // namespace brev::cli

// A service reply, any bytes, through the reply parser and every record decoder: each either
// decodes or fails with a DecodingError; nothing else may happen. A clip that decodes keeps
// all its fields through its own JSON encoding.

#include "FuzzCheck.h"

#include "service/Records.h"

#include <QJsonArray>

#include <cstdint>

using namespace quillpost;

namespace {

template<typename Record>
std::optional<Record> decode(const QJsonObject &object)
{
    try {
        return Record::fromJson(object);
    } catch (const DecodingError &error) {
        FUZZ_CHECK(!error.description().isEmpty());
        return std::nullopt;
    }
}

void checkEncoding(const Clip &clip)
{
    const Clip again = decodeReply<ClipEnvelope>("{\"clip\":" + clip.toJsonBytes() + "}").clip;
    FUZZ_CHECK(again == clip);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    // A copy, as the service client holds the bytes it read.
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    QJsonObject object;
    try {
        object = parseJsonObject(bytes);
    } catch (const DecodingError &error) {
        FUZZ_CHECK(!error.description().isEmpty());
        return 0;
    }
    decode<Profile>(object);
    decode<LoginResponse>(object);
    decode<Result>(object);
    if (const auto envelope = decode<ClipEnvelope>(object))
        checkEncoding(envelope->clip);
    if (const auto list = decode<ClipList>(object)) {
        FUZZ_CHECK(list->clips.size() == object.value(QLatin1String("clips")).toArray().size());
        for (const Clip &clip : list->clips)
            checkEncoding(clip);
    }
    return 0;
}

#include "nsf/ObjectItem.h"

#include "nsf/TextCodec.h"

namespace tarvik::nsf {

namespace {

ObjectRef readObjectRef(ByteReader& r)
{
    ObjectRef ref;
    ref.type = r.u16();
    ref.id = r.u32();
    return ref;
}

} // namespace

ObjectRef decodeObjectRef(Bytes value)
{
    ByteReader r(value, "object item");
    return readObjectRef(r);
}

FileObject decodeFileObject(Bytes value)
{
    ByteReader r(value, "file attachment item");
    FileObject f;
    f.object = readObjectRef(r);
    if (f.object.kind() != ObjectRef::kFile)
        r.fail("object type " + std::to_string(f.object.type) + " is not a file attachment",
               FailureKind::Unsupported);
    const std::uint16_t nameLength = r.u16();
    f.host = r.u16();
    f.compression = r.u16();
    f.attributes = r.u16();
    f.flags = r.u16();
    f.size = r.u32();
    f.created = readTimeDate(r);
    f.modified = readTimeDate(r);
    // The name is checked against the bytes; anything after it (a signature, MIME data)
    // is not ours to read here.
    f.name = lmbcsToUtf8(r.bytes(nameLength));
    return f;
}

} // namespace tarvik::nsf

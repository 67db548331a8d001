#include "formats/binary_plist_writer.hpp"
#include "formats/property_list.hpp"

#include "platform/file_system.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <memory>

namespace vellico::formats {

// GoogleTest prints a value as our XML (a binary dump when XML cannot hold it).
void PrintTo(const PlistValue& value, std::ostream* os)
{
    if (const auto xml = toXmlPropertyList(value)) {
        *os << *xml;
    } else if (const auto binary = toBinaryPropertyList(value)) {
        *os << testing::PrintToString(*binary);
    } else {
        *os << "(unprintable value)";
    }
}

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes bytesOf(std::string_view text)
{
    return Bytes(text.begin(), text.end());
}

std::optional<PlistValue> parseText(std::string_view text, const PlistLimits& limits = {})
{
    const Bytes bytes = bytesOf(text);
    return parsePropertyList(bytes, limits);
}

std::string xmlDocument(std::string_view body)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
           "<plist version=\"1.0\">\n" +
           std::string(body) + "\n</plist>\n";
}

void appendBigEndian(Bytes& out, std::uint64_t v, std::size_t width)
{
    for (std::size_t i = width; i-- > 0;) {
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
}

// A binary property list assembled from raw object bytes, so that tests can
// write what no sane writer would: cycles, bombs, bad references.
struct RawBinary {
    std::vector<Bytes> objects;
    std::size_t refSize = 1;
    std::size_t offsetSize = 0; // 0: as small as the offsets allow
    std::uint64_t top = 0;

    // An array or dictionary marker with its references (`kind` 0xA or 0xD).
    Bytes container(std::uint8_t kind, const std::vector<std::uint64_t>& refs,
                    std::size_t count) const
    {
        Bytes out;
        if (count < 15) {
            out.push_back(static_cast<std::uint8_t>(kind << 4 | count));
        } else {
            out.push_back(static_cast<std::uint8_t>(kind << 4 | 0xF));
            out.push_back(0x13);
            appendBigEndian(out, count, 8);
        }
        for (const std::uint64_t ref : refs) {
            appendBigEndian(out, ref, refSize);
        }
        return out;
    }

    Bytes build() const
    {
        Bytes out = bytesOf("bplist00");
        std::vector<std::uint64_t> offsets;
        for (const Bytes& object : objects) {
            offsets.push_back(out.size());
            out.insert(out.end(), object.begin(), object.end());
        }
        const std::uint64_t table = out.size();
        const std::size_t width = offsetSize != 0 ? offsetSize
                                  : table < 256   ? 1
                                  : table < 65536 ? 2
                                                  : 4;
        for (const std::uint64_t offset : offsets) {
            appendBigEndian(out, offset, width);
        }
        out.insert(out.end(), 6, 0);
        out.push_back(static_cast<std::uint8_t>(width));
        out.push_back(static_cast<std::uint8_t>(refSize));
        appendBigEndian(out, objects.size(), 8);
        appendBigEndian(out, top, 8);
        appendBigEndian(out, table, 8);
        return out;
    }
};

// Trailer fields, from the end of a binary list.
constexpr std::size_t kNumObjectsAt = 24; // bytes before the end
constexpr std::size_t kTopObjectAt = 16;
constexpr std::size_t kTableOffsetAt = 8;

// Every type, nesting, non-ASCII text, long counts and (unless asked not
// to) a duplicate key.
PlistValue richValue(bool duplicateKey = true)
{
    PlistValue::Array many;
    for (int i = 0; i < 300; ++i) { // over 256 objects: two-byte references
        many.push_back(PlistValue::fromInteger(i * 1000003LL));
    }
    PlistValue::Data bytes;
    for (int i = 0; i < 200; ++i) {
        bytes.push_back(static_cast<std::uint8_t>(i * 7));
    }
    PlistValue value = PlistValue::fromDict({
        {"string", PlistValue::fromString("Clip <1> & \"quoted\"")},
        {"unicode", PlistValue::fromString("Événement été 😀 日本")},
        {"long string over fifteen characters", PlistValue::fromString(std::string(100, 'x'))},
        {"empty", PlistValue::fromString("")},
        {"true", PlistValue::fromBool(true)},
        {"false", PlistValue::fromBool(false)},
        {"zero", PlistValue::fromInteger(0)},
        {"negative", PlistValue::fromInteger(-42)},
        {"min", PlistValue::fromInteger(std::numeric_limits<std::int64_t>::min())},
        {"max", PlistValue::fromInteger(std::numeric_limits<std::int64_t>::max())},
        {"wide", PlistValue::fromInteger(70000)},
        {"real", PlistValue::fromReal(0.1)},
        {"big real", PlistValue::fromReal(-1.5e300)},
        {"integral real", PlistValue::fromReal(3.0)},
        {"infinity", PlistValue::fromReal(INFINITY)},
        {"date", PlistValue::fromDate({786000000})},
        {"old date", PlistValue::fromDate({-3e9})},
        {"data", PlistValue::fromData(bytes)},
        {"empty data", PlistValue::fromData({})},
        {"many", PlistValue::fromArray(std::move(many))},
        {"nested",
         PlistValue::fromArray({PlistValue::fromDict({{"deeper", PlistValue::fromArray({
                                                                     PlistValue::fromData(bytes),
                                                                     PlistValue::fromDict({}),
                                                                     PlistValue::fromArray({}),
                                                                 })}})})},
    });
    if (duplicateKey) {
        value.dict()->emplace_back("string", PlistValue::fromString("duplicate, kept in order"));
    }
    return value;
}

// ---- Malformed input -------------------------------------------------------

struct Malformed {
    const char* name;
    std::string text;
};

class MalformedXml : public testing::TestWithParam<Malformed> {};

TEST_P(MalformedXml, IsRefused)
{
    EXPECT_FALSE(parseText(GetParam().text).has_value()) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    PropertyList, MalformedXml,
    testing::Values(
        Malformed{"empty", ""}, Malformed{"spaces", "   \n"}, Malformed{"garbage", "hello world"},
        Malformed{"binaryGarbage", std::string("\x00\x01\x02\xff", 4)},
        Malformed{"otherBinaryVersion", "bplist15" + std::string(40, '\0')},
        Malformed{"shortMagic", "bplist"}, Malformed{"declarationOnly", "<?xml version=\"1.0\"?>"},
        Malformed{"emptyPlist", xmlDocument("")}, Malformed{"selfClosingPlist", "<plist/>"},
        Malformed{"unclosedDict", xmlDocument("<dict>")},
        Malformed{"unclosedString", xmlDocument("<string>abc")},
        Malformed{"mismatchedClose", xmlDocument("<array></dict>")},
        Malformed{"keyWithoutValue", xmlDocument("<dict><key>a</key></dict>")},
        Malformed{"valueWithoutKey", xmlDocument("<dict><string>a</string></dict>")},
        Malformed{"nonStringKey",
                  xmlDocument("<dict><integer>1</integer><string>a</string></dict>")},
        Malformed{"nestedKey", xmlDocument("<dict><key><string>a</string></key><true/></dict>")},
        Malformed{"keyOutsideDict", xmlDocument("<key>a</key>")},
        Malformed{"unknownElement", xmlDocument("<foo/>")},
        Malformed{"nullElement", xmlDocument("<null/>")},
        Malformed{"textBetweenElements", xmlDocument("<array>x<true/></array>")},
        Malformed{"twoRootValues", xmlDocument("<true/><false/>")},
        Malformed{"trailingGarbage", xmlDocument("<true/>") + "x"},
        Malformed{"secondRoot", "<true/><true/>"},
        Malformed{"unknownEntity", xmlDocument("<string>&nbsp;</string>")},
        Malformed{"unterminatedEntity", xmlDocument("<string>&amp</string>")},
        Malformed{"nulCharRef", xmlDocument("<string>&#0;</string>")},
        Malformed{"surrogateCharRef", xmlDocument("<string>&#xD800;</string>")},
        Malformed{"charRefPastUnicode", xmlDocument("<string>&#x110000;</string>")},
        Malformed{"charRefOverflow", xmlDocument("<string>&#99999999999;</string>")},
        Malformed{"invalidUtf8", xmlDocument("<string>\xC3\x28</string>")},
        Malformed{"overlongUtf8", xmlDocument("<string>\xC0\xAF</string>")},
        Malformed{"encodedSurrogate", xmlDocument("<string>\xED\xA0\x80</string>")},
        Malformed{"nulByte", xmlDocument(std::string("<string>a\0b</string>", 20))},
        Malformed{"controlChar", xmlDocument("<string>\x01</string>")},
        Malformed{"emptyInteger", xmlDocument("<integer></integer>")},
        Malformed{"integerTooBig", xmlDocument("<integer>9223372036854775808</integer>")},
        Malformed{"integerTooSmall", xmlDocument("<integer>-9223372036854775809</integer>")},
        Malformed{"integerWithText", xmlDocument("<integer>12abc</integer>")},
        Malformed{"integerDoubleSign", xmlDocument("<integer>--1</integer>")},
        Malformed{"integerReal", xmlDocument("<integer>1.5</integer>")},
        Malformed{"realWithText", xmlDocument("<real>1.5x</real>")},
        Malformed{"emptyReal", xmlDocument("<real/>")},
        Malformed{"realOutOfRange", xmlDocument("<real>1e999</real>")},
        Malformed{"dateBadMonth", xmlDocument("<date>2001-13-01T00:00:00Z</date>")},
        Malformed{"dateNotLeap", xmlDocument("<date>2001-02-29T00:00:00Z</date>")},
        Malformed{"dateNoZone", xmlDocument("<date>2001-01-01T00:00:00</date>")},
        Malformed{"dateGarbage", xmlDocument("<date>yesterday</date>")},
        Malformed{"base64BadChar", xmlDocument("<data>ab!d</data>")},
        Malformed{"base64OneLeft", xmlDocument("<data>abcde</data>")},
        Malformed{"base64TooMuchPadding", xmlDocument("<data>a===</data>")},
        Malformed{"base64DataAfterPadding", xmlDocument("<data>ab==cd</data>")},
        Malformed{"trueWithText", xmlDocument("<true>yes</true>")},
        Malformed{"unterminatedComment", xmlDocument("<!-- <true/>")},
        Malformed{"unterminatedDoctype", "<!DOCTYPE plist [ <true/>"},
        Malformed{"unterminatedCdata", xmlDocument("<string><![CDATA[abc</string>")},
        Malformed{"processingInstructionInText", xmlDocument("<string><?x?></string>")},
        Malformed{"badAttribute", "<plist version=1.0><true/></plist>"},
        Malformed{"closingTagAttribute", "<plist><true/></plist x=\"1\">"},
        Malformed{"utf16Bom", "\xFF\xFE<\0p\0"}),
    [](const testing::TestParamInfo<Malformed>& p) { return std::string(p.param.name); });

TEST(PropertyList, RefusesTruncatedXmlAtEveryLength)
{
    const std::string xml = *toXmlPropertyList(richValue());
    ASSERT_TRUE(parseText(xml).has_value());
    const std::size_t end = xml.rfind("</plist>") + 8;
    for (std::size_t length = 0; length < end; ++length) {
        EXPECT_FALSE(parseText(std::string_view(xml).substr(0, length)).has_value()) << length;
    }
}

TEST(PropertyList, RefusesTruncatedBinaryAtEveryLength)
{
    const Bytes binary = *toBinaryPropertyList(richValue());
    ASSERT_TRUE(parsePropertyList(binary).has_value());
    for (std::size_t length = 0; length < binary.size(); ++length) {
        EXPECT_FALSE(parsePropertyList(std::span(binary).first(length)).has_value()) << length;
    }
}

struct RawCase {
    const char* name;
    RawBinary raw;
};

RawBinary raw(std::vector<Bytes> objects, std::size_t refSize = 1)
{
    RawBinary r;
    r.objects = std::move(objects);
    r.refSize = refSize;
    return r;
}

class MalformedBinary : public testing::TestWithParam<RawCase> {};

TEST_P(MalformedBinary, IsRefused)
{
    EXPECT_FALSE(parsePropertyList(GetParam().raw.build()).has_value());
}

INSTANTIATE_TEST_SUITE_P(
    PropertyList, MalformedBinary,
    testing::Values(
        RawCase{"arrayContainsItself", raw({{0xA1, 0x00}})},
        RawCase{"indirectCycle", raw({{0xA1, 0x01}, {0xD1, 0x02, 0x00}, {0x51, 'k'}})},
        RawCase{"refPastObjects", raw({{0xA1, 0x05}})},
        RawCase{"integerKey", raw({{0xD1, 0x01, 0x02}, {0x10, 0x01}, {0x09}})},
        RawCase{"arrayKey", raw({{0xD1, 0x01, 0x02}, {0xA0}, {0x09}})},
        RawCase{"dataKey", raw({{0xD1, 0x01, 0x02}, {0x41, 'k'}, {0x09}})},
        RawCase{"hugeArrayCount",
                raw({{0xAF, 0x13, 0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}})},
        RawCase{"negativeCount", raw({{0xAF, 0x13, 0x80, 0, 0, 0, 0, 0, 0, 1}})},
        RawCase{"hugeDictCount", raw({{0xDF, 0x12, 0xFF, 0xFF, 0xFF, 0xFF}})},
        RawCase{"hugeDataCount", raw({{0x4F, 0x13, 0x40, 0, 0, 0, 0, 0, 0, 0}})},
        RawCase{"hugeStringCount", raw({{0x5F, 0x13, 0x40, 0, 0, 0, 0, 0, 0, 0}})},
        RawCase{"hugeUtf16Count", raw({{0x6F, 0x13, 0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}})},
        RawCase{"countNotInteger", raw({{0x4F, 0x23, 0, 0, 0, 0, 0, 0, 0, 0}})},
        RawCase{"countTooWide", raw({{0x4F, 0x14, 0, 0, 0, 0, 0, 0, 0, 0}})},
        RawCase{"dataPastObjects", raw({{0x44, 'a', 'b'}})},
        RawCase{"truncatedInteger", raw({{0x13, 0x00, 0x01}})},
        RawCase{"integer128TooBig", raw({{0x14, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0}})},
        RawCase{"integerBadWidth", raw({{0x15, 0x00}})},
        RawCase{"realBadWidth", raw({{0x21, 0x00, 0x00}})},
        RawCase{"dateBadMarker", raw({{0x32, 0, 0, 0, 0}})},
        RawCase{"null", raw({{0x00}})},
        RawCase{"fill", raw({{0x0F}})},
        RawCase{"set", raw({{0xC1, 0x01}, {0x09}})},
        RawCase{"utf8StringMarker", raw({{0x71, 'a'}})},
        RawCase{"uidTooWide", raw({{0x89, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}})},
        RawCase{"asciiHighBit", raw({{0x51, 0xE9}})},
        RawCase{"loneHighSurrogate", raw({{0x61, 0xD8, 0x00}})},
        RawCase{"loneLowSurrogate", raw({{0x62, 0xDC, 0x00, 0x00, 0x41}})},
        RawCase{"refSizeTooSmall", [] {
                    RawBinary r = raw({});
                    for (int i = 0; i < 257; ++i) {
                        r.objects.push_back({0x09});
                    }
                    return r;
                }()}),
    [](const testing::TestParamInfo<RawCase>& p) { return std::string(p.param.name); });

// 26 levels, each an array referencing the next level twice: 384 bytes that
// expand to 2^26 nodes. Refused by the node bound long before.
TEST(PropertyList, RefusesBinaryReferenceBomb)
{
    RawBinary bomb;
    for (std::uint64_t level = 0; level < 26; ++level) {
        bomb.objects.push_back(bomb.container(0xA, {level + 1, level + 1}, 2));
    }
    bomb.objects.push_back({0x10, 0x01});
    const Bytes bytes = bomb.build();
    EXPECT_LT(bytes.size(), 400u);
    EXPECT_FALSE(parsePropertyList(bytes).has_value());
    PlistLimits deep;
    deep.maxDepth = 100; // the node bound alone refuses it
    EXPECT_FALSE(parsePropertyList(bytes, deep).has_value());
    PlistLimits roomy = deep;
    roomy.maxNodes = 1 << 28; // and with no node bound, the depth bound
    roomy.maxDepth = 20;
    EXPECT_FALSE(parsePropertyList(bytes, roomy).has_value());
}

TEST(PropertyList, BoundsPayloadOfOneStringReferencedManyTimes)
{
    RawBinary r;
    std::vector<std::uint64_t> refs(5000, 1);
    r.refSize = 2;
    r.objects.push_back(r.container(0xA, refs, refs.size()));
    Bytes big = {0x4F, 0x12};
    appendBigEndian(big, 4000, 4);
    big.resize(big.size() + 4000, 'x');
    r.objects.push_back(big);
    const Bytes bytes = r.build();
    EXPECT_FALSE(parsePropertyList(bytes).has_value()); // 20 MB if expanded, over 16 MiB
    PlistLimits roomy;
    roomy.maxPayloadBytes = std::size_t{1} << 30;
    roomy.maxNodes = 6000;
    const auto value = parsePropertyList(bytes, roomy);
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(value->array()->size(), 5000u);
}

TEST(PropertyList, RefusesDeepBinaryNesting)
{
    RawBinary r;
    r.refSize = 4;
    constexpr std::uint64_t kLevels = 100000;
    for (std::uint64_t level = 0; level < kLevels; ++level) {
        r.objects.push_back(r.container(0xA, {level + 1}, 1));
    }
    r.objects.push_back({0x09});
    const Bytes bytes = r.build();
    EXPECT_FALSE(parsePropertyList(bytes).has_value());
    PlistLimits unbounded; // the hard ceiling still stops it
    unbounded.maxDepth = std::numeric_limits<std::size_t>::max();
    unbounded.maxNodes = std::numeric_limits<std::size_t>::max();
    EXPECT_FALSE(parsePropertyList(bytes, unbounded).has_value());
}

TEST(PropertyList, RefusesDeepXmlNesting)
{
    constexpr std::size_t kLevels = 1000000;
    std::string xml = "<plist version=\"1.0\">";
    xml.reserve(kLevels * 16);
    for (std::size_t i = 0; i < kLevels; ++i) {
        xml += "<array>";
    }
    for (std::size_t i = 0; i < kLevels; ++i) {
        xml += "</array>";
    }
    xml += "</plist>";
    EXPECT_FALSE(parseText(xml).has_value()); // over the size cap
    PlistLimits unbounded;
    unbounded.maxBytes = xml.size();
    unbounded.maxDepth = std::numeric_limits<std::size_t>::max();
    unbounded.maxNodes = std::numeric_limits<std::size_t>::max();
    EXPECT_FALSE(parseText(xml, unbounded).has_value());
}

TEST(PropertyList, RefusesInputOverTheByteCap)
{
    const std::string xml = xmlDocument("<string>" + std::string(100, 'a') + "</string>");
    PlistLimits limits;
    limits.maxBytes = xml.size();
    EXPECT_TRUE(parseText(xml, limits).has_value());
    limits.maxBytes = xml.size() - 1;
    EXPECT_FALSE(parseText(xml, limits).has_value());
}

TEST(PropertyList, RefusesMoreNodesThanTheLimit)
{
    std::string body = "<array>";
    for (int i = 0; i < 10; ++i) {
        body += "<true/>";
    }
    body += "</array>";
    PlistLimits limits;
    limits.maxNodes = 11;
    EXPECT_TRUE(parseText(body, limits).has_value());
    limits.maxNodes = 10;
    EXPECT_FALSE(parseText(body, limits).has_value());
}

// ---- Accepted XML ------------------------------------------------------------

TEST(PropertyList, ReadsXmlScalars)
{
    const auto v = parseText(xmlDocument(R"(<dict>
	<key>hex</key><integer>0x1F</integer>
	<key>negative</key><integer> -5 </integer>
	<key>plus</key><integer>+7</integer>
	<key>min</key><integer>-9223372036854775808</integer>
	<key>real</key><real>1e3</real>
	<key>inf</key><real>+infinity</real>
	<key>minusInf</key><real>-infinity</real>
	<key>nan</key><real>nan</real>
	<key>entities</key><string>&lt;&amp;&gt;&quot;&apos;&#233;&#x1F600;</string>
	<key>cdata</key><string>a<![CDATA[<b>&amp;]]>c<!-- comment --></string>
	<key>empty</key><string/>
	<key>data</key><data>
	aGVs
	bG8=
	</data>
	<key>unpadded</key><data>aGk</data>
	<key>date</key><date>2001-01-02T00:00:01Z</date>
	<key>before</key><date>2000-12-31T23:59:59Z</date>
	<key>yes</key><true></true>
	<key>&lt;key&gt;</key><false/>
	<key/><dict/>
</dict>)"));
    ASSERT_TRUE(v.has_value());
    EXPECT_EQ(v->integerFor("hex"), 31);
    EXPECT_EQ(v->integerFor("negative"), -5);
    EXPECT_EQ(v->integerFor("plus"), 7);
    EXPECT_EQ(v->integerFor("min"), std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(*v->find("real")->real(), 1000.0);
    EXPECT_EQ(*v->find("inf")->real(), INFINITY);
    EXPECT_EQ(*v->find("minusInf")->real(), -INFINITY);
    EXPECT_TRUE(std::isnan(*v->find("nan")->real()));
    EXPECT_EQ(v->stringFor("entities"), "<&>\"'é😀");
    EXPECT_EQ(v->stringFor("cdata"), "a<b>&amp;c");
    EXPECT_EQ(v->stringFor("empty"), "");
    EXPECT_EQ(*v->dataFor("data"), bytesOf("hello"));
    EXPECT_EQ(*v->dataFor("unpadded"), bytesOf("hi"));
    EXPECT_EQ(v->find("date")->date()->secondsSince2001, 86401);
    EXPECT_EQ(v->find("before")->date()->secondsSince2001, -1);
    EXPECT_EQ(v->boolFor("yes"), true);
    EXPECT_EQ(v->boolFor("<key>"), false);
    ASSERT_NE(v->dictFor(""), nullptr);
    EXPECT_TRUE(v->dictFor("")->empty());
}

// ---- Typed access ------------------------------------------------------------

// The document as UTF-16 code units, in the given byte order, with or
// without a byte-order mark.
Bytes utf16(std::u16string_view text, bool bigEndian, bool mark)
{
    Bytes out;
    auto put = [&](char16_t unit) {
        const auto hi = static_cast<std::uint8_t>(unit >> 8);
        const auto lo = static_cast<std::uint8_t>(unit & 0xFF);
        out.push_back(bigEndian ? hi : lo);
        out.push_back(bigEndian ? lo : hi);
    };
    if (mark) {
        put(0xFEFF);
    }
    for (const char16_t unit : text) {
        put(unit);
    }
    return out;
}

TEST(PropertyList, ReadsUtf16XmlInEitherByteOrder)
{
    const std::u16string document =
        u"<?xml version=\"1.0\" encoding=\"UTF-16\"?><plist version=\"1.0\"><dict>"
        u"<key>cacheFolderName</key><string>C\u00e9r\u00e9monie \U0001F600.fcpcache</string>"
        u"</dict></plist>";
    for (const bool bigEndian : {false, true}) {
        for (const bool mark : {false, true}) {
            const auto v = parsePropertyList(utf16(document, bigEndian, mark));
            ASSERT_TRUE(v.has_value()) << bigEndian << mark;
            EXPECT_EQ(v->stringFor("cacheFolderName"), "C\u00e9r\u00e9monie \U0001F600.fcpcache");
        }
    }
    // An unpaired surrogate, or an odd byte count, is no document.
    std::u16string broken = document;
    broken.insert(broken.find(u".fcpcache"), 1, char16_t(0xD800));
    EXPECT_FALSE(parsePropertyList(utf16(broken, false, true)).has_value());
    Bytes odd = utf16(document, false, true);
    odd.push_back(0);
    EXPECT_FALSE(parsePropertyList(odd).has_value());
}

TEST(PropertyList, TypedLookupsOfTheWrongTypeAreAbsent)
{
    const PlistValue v = PlistValue::fromDict({
        {"s", PlistValue::fromString("true")},
        {"b", PlistValue::fromBool(true)},
        {"i", PlistValue::fromInteger(1)},
        {"d", PlistValue::fromData({1, 2})},
        {"s", PlistValue::fromString("second")},
    });
    EXPECT_EQ(v.stringFor("s"), "second"); // the last of duplicate keys wins
    EXPECT_EQ(v.boolFor("s"), std::nullopt);
    EXPECT_EQ(v.stringFor("b"), std::nullopt);
    EXPECT_EQ(v.integerFor("b"), std::nullopt);
    EXPECT_EQ(v.boolFor("i"), std::nullopt);
    EXPECT_EQ(v.dataFor("s"), nullptr);
    EXPECT_EQ(v.dictFor("d"), nullptr);
    EXPECT_EQ(v.arrayFor("d"), nullptr);
    EXPECT_EQ(v.stringFor("missing"), std::nullopt);
    EXPECT_EQ(v.string(), nullptr);
    EXPECT_EQ(v.array(), nullptr);

    const PlistValue notDict = PlistValue::fromArray({PlistValue::fromString("s")});
    EXPECT_EQ(notDict.find("s"), nullptr);
    EXPECT_EQ(notDict.stringFor("s"), std::nullopt);
    EXPECT_EQ(notDict.dict(), nullptr);

    const PlistValue none;
    ASSERT_NE(none.string(), nullptr);
    EXPECT_TRUE(none.string()->empty());
    EXPECT_EQ(PlistValue("text"), PlistValue::fromString("text"));
    EXPECT_NE(PlistValue::fromInteger(1), PlistValue::fromReal(1.0));
    EXPECT_NE(PlistValue::fromInteger(1), PlistValue::fromBool(true));
}

// ---- Writing and round trips ---------------------------------------------

TEST(PropertyList, RoundTripsThroughBinary)
{
    const PlistValue value = richValue();
    const auto binary = toBinaryPropertyList(value);
    ASSERT_TRUE(binary.has_value());
    EXPECT_EQ(std::string(binary->begin(), binary->begin() + 8), "bplist00");
    const auto back = parsePropertyList(*binary);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(*back, value);
    // Uids and fractional dates exist in binary only.
    const PlistValue archive = PlistValue::fromDict({
        {"$top", PlistValue::fromDict({{"root", PlistValue::fromUid({1})}})},
        {"big", PlistValue::fromUid({0x1234567890ULL})},
        {"when", PlistValue::fromDate({123.456})},
        {"float", PlistValue::fromReal(-0.0)},
    });
    EXPECT_EQ(parsePropertyList(*toBinaryPropertyList(archive)), archive);
}

TEST(PropertyList, WritesXmlAsMacOsDoes)
{
    const PlistValue value = PlistValue::fromDict({
        {"a & b", PlistValue::fromString("<\"x\">")},
        {"list",
         PlistValue::fromArray({PlistValue::fromInteger(-3), PlistValue::fromReal(0.1),
                                PlistValue::fromReal(2.0), PlistValue::fromReal(0.0),
                                PlistValue::fromReal(-INFINITY), PlistValue::fromBool(false),
                                PlistValue::fromDate({0}), PlistValue::fromData(bytesOf("hi")),
                                PlistValue::fromArray({}), PlistValue::fromDict({})})},
        {"empty", PlistValue::fromString("")},
    });
    EXPECT_EQ(toXmlPropertyList(value), xmlDocument(R"(<dict>
	<key>a &amp; b</key>
	<string>&lt;"x"&gt;</string>
	<key>list</key>
	<array>
		<integer>-3</integer>
		<real>0.10000000000000001</real>
		<real>2</real>
		<real>0.0</real>
		<real>-infinity</real>
		<false/>
		<date>2001-01-01T00:00:00Z</date>
		<data>
		aGk=
		</data>
		<array/>
		<dict/>
	</array>
	<key>empty</key>
	<string></string>
</dict>)"));
}

TEST(PropertyList, WriterRefusesWhatItCannotRepresent)
{
    EXPECT_FALSE(toXmlPropertyList(PlistValue::fromUid({1})).has_value());
    EXPECT_FALSE(toXmlPropertyList(PlistValue::fromString("bell\x07")).has_value());
    EXPECT_FALSE(toXmlPropertyList(PlistValue::fromDate({1e300})).has_value());
    EXPECT_FALSE(toXmlPropertyList(PlistValue::fromDate({NAN})).has_value());
    const PlistValue badUtf8 = PlistValue::fromDict({{"\xFF", PlistValue::fromBool(true)}});
    EXPECT_FALSE(toXmlPropertyList(badUtf8).has_value());
    EXPECT_FALSE(toBinaryPropertyList(badUtf8).has_value());
    // Control characters are fine in binary.
    EXPECT_TRUE(toBinaryPropertyList(PlistValue::fromString("bell\x07")).has_value());
}

// ---- Files ---------------------------------------------------------------

void writeFile(const std::filesystem::path& path, std::string_view contents)
{
    std::ofstream(path, std::ios::binary) << contents;
}

const std::string kSettings = xmlDocument(
    "<dict>\n\t<key>libraryID</key>\n\t<string>C60CA724-BC9C-47B9-BF22-97CBCA30D396</string>\n"
    "</dict>");

TEST(PropertyList, ReadsADictionaryFileByPathAndInDirectory)
{
    test::TempDir dir;
    writeFile(dir / "Settings.plist", kSettings);
    const auto byPath = readPropertyListDictionary(dir / "Settings.plist");
    ASSERT_TRUE(byPath.has_value());
    EXPECT_EQ(byPath->stringFor("libraryID"), "C60CA724-BC9C-47B9-BF22-97CBCA30D396");
    const platform::UniqueFd fd = platform::openDirectoryPath(dir.path().string());
    ASSERT_TRUE(fd.valid());
    EXPECT_EQ(readPropertyListDictionaryAt(fd.get(), "Settings.plist"), byPath);
    EXPECT_FALSE(readPropertyListDictionaryAt(fd.get(), "missing.plist").has_value());
    EXPECT_FALSE(readPropertyListDictionary(dir / "missing" / "Settings.plist").has_value());
    EXPECT_FALSE(readPropertyListDictionary(dir.path() / "").has_value());
}

TEST(PropertyList, RefusesATopLevelThatIsNotADictionary)
{
    test::TempDir dir;
    writeFile(dir / "list.plist", xmlDocument("<array><dict/></array>"));
    EXPECT_FALSE(readPropertyListDictionary(dir / "list.plist").has_value());
    const Bytes binary = *toBinaryPropertyList(PlistValue::fromString("x"));
    writeFile(dir / "string.plist", std::string(binary.begin(), binary.end()));
    EXPECT_FALSE(readPropertyListDictionary(dir / "string.plist").has_value());
}

TEST(PropertyList, DoesNotBlockOnAFifo)
{
    test::TempDir dir;
    ASSERT_EQ(::mkfifo((dir / "Settings.plist").c_str(), 0600), 0);
    const platform::UniqueFd fd = platform::openDirectoryPath(dir.path().string());
    ASSERT_TRUE(fd.valid());
    EXPECT_FALSE(readPropertyListDictionaryAt(fd.get(), "Settings.plist").has_value());
    EXPECT_FALSE(readPropertyListDictionary(dir / "Settings.plist").has_value());
}

TEST(PropertyList, DoesNotFollowASymlink)
{
    test::TempDir dir;
    writeFile(dir / "elsewhere.plist", kSettings);
    std::filesystem::create_symlink("elsewhere.plist", dir / "Settings.plist");
    const platform::UniqueFd fd = platform::openDirectoryPath(dir.path().string());
    ASSERT_TRUE(fd.valid());
    EXPECT_FALSE(readPropertyListDictionaryAt(fd.get(), "Settings.plist").has_value());
    EXPECT_FALSE(readPropertyListDictionary(dir / "Settings.plist").has_value());
    EXPECT_TRUE(readPropertyListDictionaryAt(fd.get(), "elsewhere.plist").has_value());
}

TEST(PropertyList, RefusesAFileOverTheCap)
{
    test::TempDir dir;
    // A valid list padded with a comment to one byte over the default cap.
    std::string big = kSettings + "<!--";
    big += std::string((1 << 20) - big.size() - 3 + 1, ' ');
    big += "-->";
    ASSERT_EQ(big.size(), (1u << 20) + 1);
    writeFile(dir / "Settings.plist", big);
    EXPECT_FALSE(readPropertyListDictionary(dir / "Settings.plist").has_value());
    PlistLimits larger;
    larger.maxBytes = 2 << 20;
    EXPECT_TRUE(readPropertyListDictionary(dir / "Settings.plist", larger).has_value());
}

// ---- The real library ------------------------------------------------------

std::string readWhole(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(PropertyList, ReadsAndRewritesTheRealLockRecord)
{
    const std::filesystem::path library = test::realLibraryPath();
    if (library.empty()) {
        GTEST_SKIP() << "real library not on this machine";
    }
    const auto lock = readPropertyListDictionary(library / ".lock-info");
    ASSERT_TRUE(lock.has_value());
    EXPECT_EQ(lock->stringFor("hostname"), "vjeux-mac.local");
    EXPECT_EQ(lock->stringFor("user"), "vjeux");
    const PlistValue::Data* id = lock->dataFor("FFFileLockIdentifier");
    ASSERT_NE(id, nullptr);
    EXPECT_EQ(*id, (Bytes{0x8a, 0xaa, 0xbf, 0xa1, 0x0b, 0xed, 0x66, 0x26, 0xc7, 0xc2, 0x21, 0xd0,
                          0xf6, 0x44, 0x1a, 0x62}));
    // Our writer produces the very bytes the editor wrote.
    EXPECT_EQ(toXmlPropertyList(*lock), readWhole(library / ".lock-info"));
}

TEST(PropertyList, ReadsAndRewritesTheRealSettings)
{
    const std::filesystem::path library = test::realLibraryPath();
    if (library.empty()) {
        GTEST_SKIP() << "real library not on this machine";
    }
    const auto settings = readPropertyListDictionary(library / "Settings.plist");
    ASSERT_TRUE(settings.has_value());
    EXPECT_EQ(settings->stringFor("libraryID"), "C60CA724-BC9C-47B9-BF22-97CBCA30D396");
    EXPECT_EQ(settings->dict()->size(), 1u);
    EXPECT_EQ(toXmlPropertyList(*settings), readWhole(library / "Settings.plist"));
    const auto binary = toBinaryPropertyList(*settings);
    ASSERT_TRUE(binary.has_value());
    EXPECT_EQ(parsePropertyList(*binary), settings);
}

} // namespace
} // namespace vellico::formats

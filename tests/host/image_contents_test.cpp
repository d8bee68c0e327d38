// What the image shows the system: the libraries it imports, its icon group,
// version resource and manifest, and no build time anywhere in its headers.
#include <algorithm>
#include <cstring>
#include <map>
#include <set>

#include "image_fixture.h"

namespace {

// The resource tree: type -> name -> language -> data (file bytes).
struct ResourceEntry {
    uint32_t type, id, language;
    image::Bytes data;
};

class ResourceTest : public ImageTest {
protected:
    std::vector<ResourceEntry> entries;
    std::vector<uint32_t> stamps;  // TimeDateStamp of every directory

    void SetUp() override
    {
        ImageTest::SetUp();
        auto [rva, size] = Pe().directories.at(2);
        ASSERT_NE(rva, 0u) << "no resource directory";
        auto base = Pe().RvaToOffset(rva);
        ASSERT_TRUE(base);
        Walk(*base, *base, 0, {});
    }

private:
    void Walk(size_t base, size_t dir, int depth, std::vector<uint32_t> path)
    {
        stamps.push_back(Pe().U32(dir + 4));
        size_t count = size_t(Pe().U16(dir + 12)) + Pe().U16(dir + 14);
        for (size_t i = 0; i < count; ++i) {
            size_t e = dir + 16 + 8 * i;
            uint32_t name = Pe().U32(e), target = Pe().U32(e + 4);
            std::vector<uint32_t> p = path;
            p.push_back(name & 0x80000000u ? 0xFFFFFFFFu : name);  // named entries: not used by this program
            if (target & 0x80000000u) {
                if (depth < 2) Walk(base, base + (target & 0x7FFFFFFFu), depth + 1, p);
                continue;
            }
            size_t leaf = base + target;
            uint32_t dataRva = Pe().U32(leaf), dataSize = Pe().U32(leaf + 4);
            if (p.size() == 3) entries.push_back({p[0], p[1], p[2], Pe().Read(Pe().imageBase + dataRva, dataSize)});
        }
    }

protected:
    std::vector<const ResourceEntry*> Of(uint32_t type, uint32_t id) const
    {
        std::vector<const ResourceEntry*> out;
        for (const ResourceEntry& e : entries)
            if (e.type == type && e.id == id) out.push_back(&e);
        return out;
    }
};

// The resource tests that both images must pass.
class BothResourceTest : public ResourceTest, public testing::WithParamInterface<Which> {
protected:
    Which Image() const override { return GetParam(); }
};
INSTANTIATE_TEST_SUITE_P(Images, BothResourceTest, testing::Values(Which::PE32, Which::PORT),
                         [](const testing::TestParamInfo<Which>& i) { return i.param == Which::PORT ? "port" : "pe32"; });

uint16_t Le16(const image::Bytes& b, size_t at) { return uint16_t(b[at] | b[at + 1] << 8); }
uint32_t Le32(const image::Bytes& b, size_t at) { return uint32_t(Le16(b, at) | Le16(b, at + 2) << 16); }

// Only libraries Windows always takes from its own folder (known DLLs),
// none delay-loaded, none bound: nothing is taken from the program's folder
// while the image loads. Libraries loaded at run time go through
// LoadLibraryExA with a full path; the bare-name loaders are not imported.
TEST_P(BothImagesTest, ImportsOnlyKnownDllsAndNoBareNameLoader)
{
    const std::set<std::string> known = {"kernel32.dll", "user32.dll", "gdi32.dll", "msvcrt.dll"};
    auto imports = Pe().Imports();
    ASSERT_TRUE(imports.count("kernel32.dll")) << "no import directory, or no kernel32";
    for (auto& [dll, names] : imports) EXPECT_TRUE(known.count(dll)) << "imports " << dll;
    for (uint32_t d = Pe().directories.at(1).first;; d += 20) {
        auto o = Pe().RvaToOffset(d);
        if (!o || Pe().U32(*o + 12) == 0) break;
        EXPECT_EQ(Pe().U32(*o + 4), 0u) << Pe().CString(Pe().U32(*o + 12)) << ": bound import with a time stamp";
    }
    EXPECT_TRUE(Pe().directories.size() <= 13 || Pe().directories[13].first == 0) << "delay-load imports";
    const std::vector<std::string>& kernel = imports["kernel32.dll"];
    for (const char* loader : {"LoadLibraryA", "LoadLibraryW", "LoadLibraryExW"})
        EXPECT_EQ(std::count(kernel.begin(), kernel.end(), loader), 0) << "imports " << loader;
    for (const char* needed : {"LoadLibraryExA", "GetSystemDirectoryA"})
        EXPECT_EQ(std::count(kernel.begin(), kernel.end(), needed), 1) << "does not import " << needed;
}

TEST_F(ImageTest, CarriesNoBuildTime)
{
    EXPECT_EQ(Pe().timestamp, 0u) << "link time stamp in the file header";
    // A debug directory would carry its own time stamp; the image is stripped.
    ASSERT_GT(Pe().directories.size(), 6u);
    EXPECT_EQ(Pe().directories[6].first, 0u) << "debug directory present";
    if (Pe().directories[0].first) {
        auto o = Pe().RvaToOffset(Pe().directories[0].first);
        ASSERT_TRUE(o);
        EXPECT_EQ(Pe().U32(*o + 4), 0u) << "export directory time stamp";
    }
}

TEST_F(ResourceTest, ResourceDirectoriesCarryNoBuildTime)
{
    for (uint32_t s : stamps) EXPECT_EQ(s, 0u);
}

TEST_F(ResourceTest, IconGroupOneHoldsThree8BitImages)
{
    auto group = Of(14, 1);  // RT_GROUP_ICON, identifier 1
    ASSERT_EQ(group.size(), 1u) << "icon group 1";
    const image::Bytes& g = group[0]->data;
    ASSERT_GE(g.size(), 6u);
    EXPECT_EQ(Le16(g, 2), 1u) << "icon (not cursor) group";
    ASSERT_EQ(Le16(g, 4), 3u) << "images in the group";
    ASSERT_GE(g.size(), 6u + 3 * 14);
    std::set<int> sizes;
    for (int i = 0; i < 3; ++i) {
        size_t e = 6 + 14 * size_t(i);
        int w = g[e] ? g[e] : 256, h = g[e + 1] ? g[e + 1] : 256;
        uint16_t bits = Le16(g, e + 6);
        uint32_t bytes = Le32(g, e + 8);
        uint16_t id = Le16(g, e + 12);
        SCOPED_TRACE("image " + std::to_string(i) + " id " + std::to_string(id));
        EXPECT_EQ(w, h);
        EXPECT_EQ(bits, 8u);
        sizes.insert(w);
        // The image the entry names exists, has that size and is 8 bpp.
        auto icon = Of(3, id);  // RT_ICON
        ASSERT_EQ(icon.size(), 1u);
        const image::Bytes& d = icon[0]->data;
        EXPECT_EQ(d.size(), bytes);
        ASSERT_GE(d.size(), 40u);
        ASSERT_EQ(Le32(d, 0), 40u) << "BITMAPINFOHEADER";
        EXPECT_EQ(int(Le32(d, 4)), w);
        EXPECT_EQ(int(Le32(d, 8)), 2 * h) << "colour and mask halves";
        EXPECT_EQ(Le16(d, 14), 8u) << "bits per pixel of the image itself";
    }
    EXPECT_EQ(sizes, (std::set<int>{16, 32, 48}));
}

// A version block: length, value length, type, key, then value and children,
// each 32-bit aligned from the start of the resource.
struct VersionNode {
    std::string key;
    image::Bytes value;
    bool text;
    std::vector<VersionNode> children;
};

bool ParseVersion(const image::Bytes& b, size_t at, VersionNode* node, size_t* next)
{
    if (at + 6 > b.size()) return false;
    size_t length = Le16(b, at), valueLength = Le16(b, at + 2);
    node->text = Le16(b, at + 4) == 1;
    if (length < 6 || at + length > b.size()) return false;
    size_t p = at + 6;
    for (; p + 1 < at + length && Le16(b, p); p += 2) node->key += char(b[p]);
    p = (p + 2 + 3) & ~size_t(3);
    size_t valueBytes = node->text ? valueLength * 2 : valueLength;
    if (p + valueBytes > at + length) valueBytes = p <= at + length ? at + length - p : 0;
    node->value.assign(b.begin() + long(std::min(p, b.size())), b.begin() + long(std::min(p + valueBytes, b.size())));
    p = (p + valueBytes + 3) & ~size_t(3);
    while (p < at + length) {
        VersionNode child;
        size_t after = 0;
        if (!ParseVersion(b, p, &child, &after)) return false;
        node->children.push_back(child);
        p = (after + 3) & ~size_t(3);
    }
    *next = at + length;
    return true;
}

std::string TextValue(const image::Bytes& v)
{
    std::string s;
    for (size_t i = 0; i + 1 < v.size() && Le16(v, i); i += 2) s += char(v[i]);
    return s;
}

TEST_F(ResourceTest, VersionSays21AndNamesTheProduct)
{
    auto version = Of(16, 1);  // RT_VERSION
    ASSERT_EQ(version.size(), 1u) << "version resource 1";
    VersionNode root;
    size_t end = 0;
    ASSERT_TRUE(ParseVersion(version[0]->data, 0, &root, &end)) << "malformed version resource";
    EXPECT_EQ(root.key, "VS_VERSION_INFO");
    ASSERT_EQ(root.value.size(), 52u) << "fixed file information";
    EXPECT_EQ(Le32(root.value, 0), 0xFEEF04BDu);
    struct { const char* what; size_t at; uint32_t expected; } fixed[] = {
        {"file version, high", 8, 0x00020001}, {"file version, low", 12, 0},
        {"product version, high", 16, 0x00020001}, {"product version, low", 20, 0},
    };
    for (auto& f : fixed) EXPECT_EQ(Le32(root.value, f.at), f.expected) << f.what;

    std::map<std::string, std::string> strings;
    for (const VersionNode& info : root.children)
        if (info.key == "StringFileInfo")
            for (const VersionNode& table : info.children)
                for (const VersionNode& s : table.children) strings[s.key] = TextValue(s.value);
    struct { const char* key; const char* value; } expected[] = {
        {"FileVersion", "2.1"}, {"ProductVersion", "2.1"}, {"ProductName", "Norvane"},
    };
    for (auto& e : expected) {
        ASSERT_TRUE(strings.count(e.key)) << e.key << " missing";
        EXPECT_EQ(strings[e.key], e.value) << e.key;
    }
}

// A manifest's elements in order: the name without a namespace prefix, and
// the attributes as written.
struct Element {
    std::string name;
    std::map<std::string, std::string> attributes;
};

std::vector<Element> Elements(const std::string& xml)
{
    std::vector<Element> out;
    for (size_t at = xml.find('<'); at != std::string::npos; at = xml.find('<', at + 1)) {
        if (xml.compare(at, 4, "<!--") == 0) {
            at = xml.find("-->", at);
            if (at == std::string::npos) break;
            continue;
        }
        size_t end = xml.find('>', at);
        if (end == std::string::npos || end == at + 1 || std::strchr("?!/", xml[at + 1])) continue;
        std::string tag = xml.substr(at + 1, end - at - 1);
        Element e;
        size_t p = tag.find_first_of(" \t\r\n/");
        e.name = tag.substr(0, p);
        if (size_t colon = e.name.find(':'); colon != std::string::npos) e.name = e.name.substr(colon + 1);
        while (p != std::string::npos && (p = tag.find('=', p)) != std::string::npos) {
            size_t nameEnd = tag.find_last_not_of(" \t\r\n", p - 1) + 1;
            size_t nameStart = tag.find_last_of(" \t\r\n", nameEnd - 1) + 1;
            size_t open = tag.find_first_of("\"'", p);
            size_t close = open == std::string::npos ? open : tag.find(tag[open], open + 1);
            if (close == std::string::npos) break;
            e.attributes[tag.substr(nameStart, nameEnd - nameStart)] = tag.substr(open + 1, close - open - 1);
            p = close + 1;
        }
        out.push_back(e);
    }
    return out;
}

// The application manifest, embedded so that Windows (from Vista on) reads
// no Norvane.exe.manifest planted beside the image. It names the program and
// runs it as its caller, and holds nothing else, since any other element
// changes the program: <file> sends bare-name loads of that library to the
// image's folder; <dependency> (common controls 6) changes the controls and
// what the start-up probe loads; <windowsSettings> (dpiAware) stops Windows
// scaling the window; <compatibility> (supportedOS) changes the version
// GetVersionExA answers, and with it the start-up probe.
TEST_P(BothResourceTest, ManifestNamesTheProgramRunsAsInvokerAndNothingElse)
{
    std::vector<const ResourceEntry*> manifests;
    for (const ResourceEntry& e : entries)
        if (e.type == 24) manifests.push_back(&e);  // RT_MANIFEST
    ASSERT_EQ(manifests.size(), 1u) << "manifests";
    EXPECT_EQ(manifests[0]->id, 1u) << "the process's own manifest is identifier 1";
    std::vector<Element> elements = Elements(std::string(manifests[0]->data.begin(), manifests[0]->data.end()));
    const std::set<std::string> allowed = {"assembly", "assemblyIdentity", "trustInfo", "security",
                                           "requestedPrivileges", "requestedExecutionLevel"};
    for (const Element& e : elements) EXPECT_TRUE(allowed.count(e.name)) << "<" << e.name << "> in the manifest";
    struct { const char* element; const char* attribute; const char* value; } expected[] = {
        {"assembly", "xmlns", "urn:schemas-microsoft-com:asm.v1"},
        {"assembly", "manifestVersion", "1.0"},
        {"assemblyIdentity", "type", "win32"},
        {"assemblyIdentity", "name", "Norvane"},
        {"assemblyIdentity", "version", "2.1.0.0"},
        {"assemblyIdentity", "processorArchitecture", GetParam() == Which::PORT ? "amd64" : "x86"},
        {"trustInfo", "xmlns", "urn:schemas-microsoft-com:asm.v3"},
        {"requestedExecutionLevel", "level", "asInvoker"},
        {"requestedExecutionLevel", "uiAccess", "false"},
    };
    for (auto& x : expected) {
        auto named = std::count_if(elements.begin(), elements.end(), [&](const Element& e) { return e.name == x.element; });
        auto found = std::find_if(elements.begin(), elements.end(), [&](const Element& e) { return e.name == x.element; });
        ASSERT_EQ(named, 1) << "<" << x.element << "> elements";
        auto a = found->attributes.find(x.attribute);
        EXPECT_EQ(a == found->attributes.end() ? "(none)" : a->second, x.value) << x.element << " " << x.attribute;
    }
}

}  // namespace

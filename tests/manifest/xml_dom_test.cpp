// The DOM adapter over the platform's parser (libxml2 natively, MSXML under Wine): the
// same expectations hold for both backends.
#include <gtest/gtest.h>

#include "manifest/xml_dom.h"
#include "tests/manifest/xml_file.h"

namespace {

// The attribute's text; "absent, " before the text left in place when there is none.
std::string AttributeText(const CXmlElement& element, const char* name) {
    CXmlAttributes attributes;
    EXPECT_EQ(S_OK, element.GetAttributes(&attributes));
    std::string text = "untouched";
    const HRESULT hr = attributes.GetText(name, &text);
    return hr == S_OK ? text : hr == S_FALSE ? "absent, " + text : "failed";
}

std::vector<std::string> ChildIds(const CXmlElement& parent, const char* name) {
    CXmlNodeList children;
    EXPECT_EQ(S_OK, parent.SelectChildren(name, &children));
    long length = -1;
    EXPECT_EQ(S_OK, children.GetLength(&length));
    std::vector<std::string> ids;
    for (long i = 0; i < length; ++i) {
        CXmlElement child;
        EXPECT_EQ(S_OK, children.GetItem(i, &child));
        ids.push_back(AttributeText(child, "id"));
    }
    return ids;
}

} // namespace

// Not-well-formed documents fail in the manifest reader's tests.
TEST(XmlElement, FindAndSelectChildren_FirstInDocumentOrderDirectChildrenOfExactName) {
    TempXmlFile file("<root><a><root id=\"deep\"/></a>\n  <c id=\"1\"/>\n  <!-- a comment -->\n"
                     "  <C id=\"upper\"/>\n  text <c id=\"2\"><c id=\"grandchild\"/></c>\n"
                     "  <d id=\"x\"/><c id=\"3\"/>\n</root>");
    CXmlDocument document;
    ASSERT_EQ(S_OK, document.Load(file.Path()));
    CXmlElement element;
    ASSERT_EQ(S_OK, document.FindFirstElement("a", &element));
    EXPECT_EQ((std::vector<std::string>{"deep"}), ChildIds(element, "root"));
    EXPECT_EQ(S_FALSE, document.FindFirstElement("ROOT", &element));
    EXPECT_TRUE(element.IsNull());
    CXmlElement root;
    ASSERT_EQ(S_OK, document.FindFirstElement("root", &root));
    EXPECT_EQ((std::vector<std::string>{"1", "2", "3"}), ChildIds(root, "c"));
    EXPECT_EQ((std::vector<std::string>{"upper"}), ChildIds(root, "C"));
    EXPECT_TRUE(ChildIds(root, "missing").empty());

    CXmlNodeList children;
    ASSERT_EQ(S_OK, root.SelectChildren("c", &children));
    CXmlElement past;
    EXPECT_EQ(S_FALSE, children.GetItem(3, &past));
    EXPECT_TRUE(past.IsNull());
}

TEST(XmlAttributes, GetText_ValueForms_PresentAbsentAndDecoded) {
    TempXmlFile file("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                     "<e empty=\"\" amp=\"a&amp;b&lt;&#x41;\" spaced=\"  x  \" "
                     "name=\"fr\xC3\xA9\" TimeScale=\"5\"/>");
    CXmlDocument document;
    ASSERT_EQ(S_OK, document.Load(file.Path()));
    CXmlElement element;
    ASSERT_EQ(S_OK, document.FindFirstElement("e", &element));

    EXPECT_EQ("", AttributeText(element, "empty"));
    EXPECT_EQ("a&b<A", AttributeText(element, "amp"));
    EXPECT_EQ("  x  ", AttributeText(element, "spaced"));
    // Non-ASCII text arrives in the thread's ANSI code page.
    EXPECT_EQ(WideToAnsi(std::wstring(L"fr\u00E9")), AttributeText(element, "name"));
    EXPECT_EQ("absent, untouched", AttributeText(element, "timescale"));
    EXPECT_EQ("absent, untouched", AttributeText(element, "absent"));
}

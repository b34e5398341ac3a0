#include "app/TextLabel.h"

#include "AppTestSupport.h"

#include <QApplication>
#include <functional>
#include <gtest/gtest.h>

namespace korvo {
namespace {

// The remembered heights never outlive what they were computed for: after each change the
// label answers what a fresh QLabel with the same settings answers.
TEST(TextLabelTest, RemembersHeightsOnlyForWhatTheyWereComputedFor) {
    const QString longText =
        QStringLiteral("a value long enough to wrap onto several lines ").repeated(6);
    const std::pair<const char*, std::function<void(QLabel&)>> changes[] = {
        {"text", [&](QLabel& l) { l.setText(longText + longText); }},
        {"shorter text", [](QLabel& l) { l.setText(QStringLiteral("short")); }},
        {"font",
         [](QLabel& l) {
             QFont font = l.font();
             font.setPointSize(font.pointSize() * 2);
             l.setFont(font);
         }},
        {"margins", [](QLabel& l) { l.setContentsMargins(40, 10, 40, 10); }},
        {"no wrapping", [](QLabel& l) { l.setWordWrap(false); }},
    };
    for (const auto& [name, change] : changes) {
        SCOPED_TRACE(name);
        TextLabel cached;
        QLabel fresh;
        for (QLabel* label : {static_cast<QLabel*>(&cached), &fresh}) {
            label->setTextFormat(Qt::PlainText);
            label->setWordWrap(true);
            label->setText(longText);
        }
        for (int width : {120, 240, 360}) {
            EXPECT_EQ(cached.heightForWidth(width), fresh.heightForWidth(width));
        }
        change(cached);
        change(fresh);
        for (int width : {120, 240, 360}) {
            EXPECT_EQ(cached.heightForWidth(width), fresh.heightForWidth(width)) << width;
        }
    }
}

} // namespace
} // namespace korvo

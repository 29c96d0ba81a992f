#pragma once

#include <QList>
#include <QVariant>

class QObject;
class QWidget;
class TextTable;

// A widget or action names the interface text it shows by the number in its dynamic property
// "tag" (an int, or a text read like a language file's key; missing, 0 or non-numeric leaves it
// alone). Item views carry "columnTags" and tab widgets "tabTags": one number per column or tab.
inline constexpr char TagProperty[] = "tag";
inline constexpr char ColumnTagsProperty[] = "columnTags";
inline constexpr char TabTagsProperty[] = "tabTags";
// Any widget: the number of the text of its tooltip.
inline constexpr char ToolTipTagProperty[] = "toolTipTag";

// A toolbar button's tooltip is the entry this far above its caption.
inline constexpr int ToolTipOffset = 30;

// The number a tag stands for, read as a language file reads its keys; 0 when it is none.
int TagNumber(const QVariant& tag);

void SetTag(QObject* object, int number);
void SetColumnTags(QObject* view, const QList<int>& numbers);
void SetTabTags(QObject* tabs, const QList<int>& numbers);

// Replaces the captions of one window and its controls from the table: the window's title,
// buttons, labels, group boxes, menus and menu entries, toolbar buttons with their tooltips,
// list column titles and tabs. Windows of their own inside it (dialogs, other top-level
// windows) are left to their own call. Models of tagged views must accept setHeaderData.
void ApplyLanguage(QWidget* window, const TextTable& texts);

// After a language switch: every window that is open now takes the new texts, then hears a
// LanguageChange event, so that what it words from figures (a title with a percentage) is
// worded anew.
void ReapplyLanguage(const QList<QWidget*>& windows, const TextTable& texts);

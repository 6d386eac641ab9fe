#pragma once

#include <QByteArrayView>

// The columns of the two tables, in the order the window shows them. The
// window, orvanite-ctl and the exporter name cells by these, never by number.
enum class ListenerColumn : int
{
    Pin,
    Product,
    Program,
    Port,
    MaxUsers,
    // Kept with each row but not shown: the product and user limit fields
    // as the host sent them, when they are not plain numbers (the value of
    // the Product and MaxUsers columns is then this text).
    ProductField,
    UserLimitField,
};
inline constexpr int ListenerColumnCount = 5;       // shown
inline constexpr int ListenerStoredColumnCount = 7; // shown and kept

enum class ProcessColumn : int
{
    Main,
    Pin,
    Program,
    User,
    CpuTime,
    Priority, // present once the host has reported a priority
};
inline constexpr int ProcessColumnCount = 6;

namespace TableColumns {

// The column titles the operator sees: "Pin", "Product", ... "MaxUsers" and
// "Main", "Pin", "Program", "User", "CPU Time", "Pri".
QByteArrayView title(ListenerColumn column);
QByteArrayView title(ProcessColumn column);

} // namespace TableColumns

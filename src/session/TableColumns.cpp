#include "session/TableColumns.h"

namespace TableColumns {

QByteArrayView title(ListenerColumn column)
{
    switch (column) {
    case ListenerColumn::Pin:
        return "Pin";
    case ListenerColumn::Product:
        return "Product";
    case ListenerColumn::Program:
        return "Program";
    case ListenerColumn::Port:
        return "Port";
    case ListenerColumn::MaxUsers:
        return "MaxUsers";
    case ListenerColumn::ProductField:
    case ListenerColumn::UserLimitField:
        break;
    }
    return {};
}

QByteArrayView title(ProcessColumn column)
{
    switch (column) {
    case ProcessColumn::Main:
        return "Main";
    case ProcessColumn::Pin:
        return "Pin";
    case ProcessColumn::Program:
        return "Program";
    case ProcessColumn::User:
        return "User";
    case ProcessColumn::CpuTime:
        return "CPU Time";
    case ProcessColumn::Priority:
        return "Pri";
    }
    return {};
}

} // namespace TableColumns

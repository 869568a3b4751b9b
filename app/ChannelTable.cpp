#include "ChannelTable.h"

ChannelTable::ChannelTable(QWidget* parent)
    : QTableWidget(parent)
{
}

#include "logplacement.h"

#include <algorithm>

QRect placeBeside(const QRect &mainGeometry, const QRect &mainFrame, int width, const QRect &available)
{
    const int leftBorder = mainGeometry.left() - mainFrame.left();
    const int rightBorder = mainFrame.right() - mainGeometry.right();
    // 20 pixels between the main window's outermost pixel column and the
    // log's, same top and height.
    const int right = mainGeometry.right() + 20;
    const int left = mainGeometry.left() - 20 - width + 1;
    int x = right;
    if (right + width - 1 + rightBorder > available.right()) {
        // With no room on either side overlapping is unavoidable; the log
        // is then at least whole on the screen.
        if (left - leftBorder >= available.left())
            x = left;
        else
            x = std::max(available.right() - rightBorder - width + 1, available.left() + leftBorder);
    }
    return {x, mainGeometry.top(), width, mainGeometry.height()};
}

#pragma once

#include <QObject>

#include <concepts>
#include <utility>

// The two ways an observable property takes a new value. Views re-read a property when its change
// signal fires, so a signal for an unchanged value costs a needless refresh, and a missed signal leaves
// a stale view.

// Stores `value` and announces it through `signal` unless it equals the value held before. Only for
// types with value equality; the others go through assignAndAnnounce.
template <typename T, typename U, typename Object>
void setIfChanged(T &member, U &&value, Object *object, void (Object::*signal)())
{
    static_assert(std::equality_comparable<T>, "a type without equality announces every assignment");
    const bool changed = !(member == value);
    member = std::forward<U>(value);
    if (changed)
        Q_EMIT(object->*signal)();
}

// Stores `value` and announces it whatever it was: for types without value equality, and for those
// whose observers are told of every assignment.
template <typename T, typename U, typename Object>
void assignAndAnnounce(T &member, U &&value, Object *object, void (Object::*signal)())
{
    member = std::forward<U>(value);
    Q_EMIT(object->*signal)();
}

// Changes `member` in place through `change` and announces it once, around the whole change.
template <typename T, typename Change, typename Object>
void changeAndAnnounce(T &member, Change &&change, Object *object, void (Object::*signal)())
{
    std::forward<Change>(change)(member);
    Q_EMIT(object->*signal)();
}

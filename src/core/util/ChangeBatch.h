#pragma once

// Holds back an observable object's change signals until the outermost of its
// operations ends, so that a view reacting to one signal sees the whole new
// state. The owner keeps an int m_batchDepth and a publish() that announces
// what changed; it befriends ChangeBatch<Owner>.
template <class Owner>
class ChangeBatch
{
public:
    explicit ChangeBatch(Owner &owner)
        : m_owner(owner)
    {
        ++m_owner.m_batchDepth;
    }
    ~ChangeBatch()
    {
        if (--m_owner.m_batchDepth == 0)
            m_owner.publish();
    }
    ChangeBatch(const ChangeBatch &) = delete;
    ChangeBatch &operator=(const ChangeBatch &) = delete;

private:
    Owner &m_owner;
};

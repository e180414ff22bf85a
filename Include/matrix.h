// Dense row-major matrix with a shared, reference-counted representation:
// copies share the data until one of them is written.
#ifndef TUMBLEWATCH_MATRIX_H
#define TUMBLEWATCH_MATRIX_H

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <valarray>

template <typename T>
class matrix {
    struct Rep {
        Rep(uint32_t r, uint32_t c)
            : data(static_cast<std::size_t>(r) * static_cast<std::size_t>(c)), rows(r), cols(c), refs(1)
        {
        }
        std::valarray<T> data;  // element (r, c) at r * cols + c
        uint32_t rows;
        uint32_t cols;
        int32_t refs;  // handles sharing this representation
    };

public:
    // Assigning through it detaches a shared representation first, so the
    // other handles keep their values.
    class reference {
    public:
        reference& operator=(const T& value)
        {
            owner_->Detach();
            owner_->rep_->data[index_] = value;
            return *this;
        }
        reference& operator=(const reference& other) { return *this = static_cast<T>(other); }
        operator T() const { return owner_->rep_->data[index_]; }

    private:
        friend class matrix;
        reference(matrix* owner, std::size_t index) : owner_(owner), index_(index) {}
        reference(const reference&) = default;

        matrix* owner_;
        std::size_t index_;
    };

    // All elements value-initialised (0 for arithmetic types).
    matrix(uint32_t rows, uint32_t cols) : rep_(new Rep(rows, cols)) {}

    // Copies share the representation until one of them is written.
    // cppcheck-suppress copyCtorPointerCopying
    matrix(const matrix& other) : rep_(other.rep_) { ++rep_->refs; }

    matrix& operator=(const matrix& other)
    {
        ++other.rep_->refs;  // first, so that self-assignment is safe
        Release();
        rep_ = other.rep_;
        return *this;
    }

    ~matrix() { Release(); }

    uint32_t rows() const { return rep_->rows; }
    uint32_t cols() const { return rep_->cols; }

    reference operator()(uint32_t r, uint32_t c) { return reference(this, Index(r, c)); }
    T operator()(uint32_t r, uint32_t c) const { return rep_->data[Index(r, c)]; }

private:
    std::size_t Index(uint32_t r, uint32_t c) const
    {
        if (!(r < rep_->rows && c < rep_->cols)) {
            throw std::out_of_range("matrix<T>::operator(): subscript is out of range!");
        }
        return static_cast<std::size_t>(r) * rep_->cols + c;
    }

    // Gives this handle a representation of its own before a write.
    void Detach()
    {
        if (rep_->refs > 1) {
            Rep* copy = new Rep(rep_->rows, rep_->cols);
            copy->data = rep_->data;
            --rep_->refs;
            rep_ = copy;
        }
    }

    void Release()
    {
        if (--rep_->refs == 0) {
            delete rep_;
        }
    }

    Rep* rep_;
};

#endif

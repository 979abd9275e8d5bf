#include "tabs/detail_rows.h"

namespace ordavo {

const DetailLayout& detailLayout(DetailList list) {
    switch (list) {
        case DetailList::Reviews:
            return kOcenaLayout;
        case DetailList::Cast:
            return kObsadaLayout;
        case DetailList::Producers:
            return kProducentLayout;
        case DetailList::Distributors:
            return kDystrybutorLayout;
        case DetailList::Locations:
            return kLokLayout;
        case DetailList::LoansTo:
            return kWypozyczInnymLayout;
        case DetailList::LoansFrom:
            return kWypozyczOdInnychLayout;
    }
    return kOcenaLayout;
}

}  // namespace ordavo

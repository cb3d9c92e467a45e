from datetime import datetime

from tolvo.features import features, feature, DataFrame


@features(name="customer", owner="data-team@example.com")
class Customer:
    # The customer's primary key.
    id: int

    # Full name, as entered at sign-up.
    # :owner: growth@example.com
    # :tags: pii, profile
    name: str

    created_at: datetime = feature(max_staleness="1d")

    # Orders placed in the last thirty days.
    recent_orders: DataFrame = feature(version={"v1": "count", "v2": "sum"})


@features
class Order:
    id: int
    customer_id: int
    total_cents: int

-- The sample database the run script creates on first start.
BEGIN;
CREATE TABLE customers (
  id INTEGER PRIMARY KEY,
  name VARCHAR(60) NOT NULL,
  city VARCHAR(40),
  joined DATE
);
CREATE TABLE products (
  id INTEGER PRIMARY KEY,
  title VARCHAR(80) NOT NULL,
  price DECIMAL(10,2) NOT NULL,
  stock INT NOT NULL DEFAULT 0
);
CREATE TABLE orders (
  id INTEGER PRIMARY KEY,
  customer_id INT NOT NULL REFERENCES customers(id),
  product_id INT NOT NULL REFERENCES products(id),
  quantity INT NOT NULL,
  ordered_at DATETIME NOT NULL
);
INSERT INTO customers VALUES
  (1, '张伟', '上海', '2023-04-01'),
  (2, 'Anna Berg', 'Stockholm', '2023-06-15'),
  (3, 'Luis García', 'Sevilla', '2024-01-20'),
  (4, '王芳', '北京', '2024-03-05');
INSERT INTO products VALUES
  (1, '绿茶 250g', 38.50, 120),
  (2, 'Espresso beans 1kg', 24.90, 40),
  (3, 'Porcelain cup', 12.00, 300);
INSERT INTO orders VALUES
  (1, 1, 1, 2, '2024-03-06 09:15:00'),
  (2, 2, 2, 1, '2024-03-07 14:02:30'),
  (3, 4, 3, 6, '2024-03-08 18:45:10'),
  (4, 3, 1, 1, '2024-03-09 11:00:00');
COMMIT;
